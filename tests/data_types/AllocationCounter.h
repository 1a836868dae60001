// AllocationCounter.h - counts every call of the global operator new in the
// program that links AllocationCounter.cpp.
#pragma once

#include <cstdint>

namespace qir::data_types::test {

/// Number of operator new calls so far in this process.
uint64_t allocation_count() noexcept;

} // namespace qir::data_types::test
