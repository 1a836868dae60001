// Reading records without copying their payloads allocates nothing. This
// program counts every operator new, so it stands alone.

#include "RecordGenerator.h"

#include "data_types/AnyContainer.h"
#include "data_types/RecordScanner.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

namespace {
// Relaxed: the count is read by the same thread that allocates.
std::atomic<uint64_t> g_allocations{ 0 };
} // namespace

void* operator new(std::size_t size)
{
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size == 0 ? 1 : size))
        return p;
    throw std::bad_alloc();
}

void operator delete(void* p) noexcept
{
    std::free(p);
}

void operator delete(void* p, std::size_t) noexcept
{
    std::free(p);
}

namespace qir::data_types {
namespace {

records::Bytes mixed_records(size_t count)
{
    records::RecordGenerator generator(7, 1'000'000);
    records::Bytes bytes;
    for (size_t i = 0; i < count; ++i)
        generator.append_next(bytes);
    return bytes;
}

TEST(Allocation, ScanningAndMakingContainersWithoutCopyAllocatesNothing)
{
    const records::Bytes file = mixed_records(5000);
    const uint64_t before = g_allocations.load(std::memory_order_relaxed);
    RecordScanner scanner(file);
    uint64_t records = 0;
    uint64_t payload_bytes = 0;
    while (const auto record = scanner.next()) {
        const std::optional<AnyContainer> container = make_container(record->bytes, false);
        ASSERT_TRUE(container.has_value());
        payload_bytes += as_base(*container).get_payload_length();
        ++records;
    }
    const uint64_t allocations = g_allocations.load(std::memory_order_relaxed) - before;
    EXPECT_EQ(records, 5000u);
    EXPECT_GT(payload_bytes, 0u);
    EXPECT_EQ(allocations, 0u) << "per record: " << double(allocations) / double(records);
}

TEST(Allocation, CountingSeesTheCopiesOfCopyingContainers)
{
    // Guards the test above against a counter that counts nothing.
    const records::Bytes file = mixed_records(100);
    const uint64_t before = g_allocations.load(std::memory_order_relaxed);
    RecordScanner scanner(file);
    while (const auto record = scanner.next())
        ASSERT_TRUE(make_container(record->bytes, true).has_value());
    EXPECT_GT(g_allocations.load(std::memory_order_relaxed) - before, 50u);
}

} // namespace
} // namespace qir::data_types
