// AllocationCounter.h - counts the calls of the global operator new in a
// program that links the qir_allocation_counter library.
#pragma once

#include <cstdint>

namespace qir::test {

/// operator new calls so far in this process, on any thread.
uint64_t allocation_count() noexcept;

/// operator new calls so far on the calling thread; unaffected by helper
/// threads of a test (scripted peers, listeners) that allocate meanwhile.
uint64_t thread_allocation_count() noexcept;

} // namespace qir::test
