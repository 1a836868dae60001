// Reading records without copying their payloads allocates nothing. This
// program counts every operator new, so it stands alone.

#include "AllocationCounter.h"
#include "RecordGenerator.h"

#include "data_types/AnyContainer.h"
#include "data_types/RecordScanner.h"

#include <gtest/gtest.h>

#include <cstdlib>

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
    const uint64_t before = qir::test::allocation_count();
    RecordScanner scanner(file);
    uint64_t records = 0;
    uint64_t payload_bytes = 0;
    while (const auto record = scanner.next()) {
        const std::optional<AnyContainer> container = make_container(record->bytes, false);
        ASSERT_TRUE(container.has_value());
        payload_bytes += as_base(*container).get_payload_length();
        ++records;
    }
    const uint64_t allocations = qir::test::allocation_count() - before;
    EXPECT_EQ(records, 5000u);
    EXPECT_GT(payload_bytes, 0u);
    EXPECT_EQ(allocations, 0u) << "per record: " << double(allocations) / double(records);
}

TEST(Allocation, CountingSeesTheCopiesOfCopyingContainers)
{
    // Guards the test above against a counter that counts nothing.
    const records::Bytes file = mixed_records(100);
    const uint64_t before = qir::test::allocation_count();
    RecordScanner scanner(file);
    while (const auto record = scanner.next())
        ASSERT_TRUE(make_container(record->bytes, true).has_value());
    EXPECT_GT(qir::test::allocation_count() - before, 50u);
}

} // namespace
} // namespace qir::data_types
