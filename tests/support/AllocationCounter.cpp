// Replaces the global operator new and delete to count allocations. Kept in
// a file of its own so that the compiler does not pair the replaced
// functions with library code it inlines.

#include "AllocationCounter.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {
// Relaxed: the counts are read on the thread that compares them, after the
// work it measures.
std::atomic<uint64_t> g_allocations{ 0 };
thread_local uint64_t t_allocations = 0;
} // namespace

void* operator new(std::size_t size)
{
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    ++t_allocations;
    if (void* p = std::malloc(size == 0 ? 1 : size))
        return p;
    throw std::bad_alloc();
}

void* operator new[](std::size_t size)
{
    return operator new(size);
}

void operator delete(void* p) noexcept
{
    std::free(p);
}

void operator delete[](void* p) noexcept
{
    std::free(p);
}

void operator delete(void* p, std::size_t) noexcept
{
    std::free(p);
}

void operator delete[](void* p, std::size_t) noexcept
{
    std::free(p);
}

namespace qir::test {

uint64_t allocation_count() noexcept
{
    return g_allocations.load(std::memory_order_relaxed);
}

uint64_t thread_allocation_count() noexcept
{
    return t_allocations;
}

} // namespace qir::test
