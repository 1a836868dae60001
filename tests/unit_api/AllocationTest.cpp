// Sending a block allocates nothing.
#include "AllocationCounter.h"
#include "ApiFixture.h"

namespace vxqir::test {
namespace {

using Allocation = ApiFixture;

TEST_F(Allocation, SendingBlocksAllocatesNothing)
{
    const VXTQirInputInterfaceT config = unit_.config(1448, 1000, 5000);
    const VXTQirChannelHandle handle = readyChannel(config);
    unit_.startPeriodicStatus(0, 100, std::chrono::milliseconds(1));
    const Bytes line(4000, 7); // three datagrams per block

    VXTQirPacketPropertiesT packet{};
    ASSERT_EQ(api_->replayStreamData(handle, &packet, line.data(), 4000), NoError); // warm up

    const uint64_t before = qir::test::thread_allocation_count();
    VXTQirError worst = NoError;
    for (uint16_t i = 0; i < 200; ++i) {
        packet.lineNumber = i;
        const VXTQirError result = api_->replayStreamData(handle, &packet, line.data(), 4000);
        if (result != NoError)
            worst = result;
    }
    const uint64_t during = qir::test::thread_allocation_count() - before;
    EXPECT_EQ(worst, NoError);
    EXPECT_EQ(during, 0u);

    // The counter does see this thread's allocations.
    const std::vector<uint8_t> allocated(4096, 1);
    EXPECT_EQ(allocated.size(), 4096u);
    EXPECT_GT(qir::test::thread_allocation_count(), before + during);
}

TEST_F(Allocation, SendingARunOfBlocksAllocatesNothing)
{
    const VXTQirInputInterfaceT config = unit_.config(1448, 1000, 5000);
    const VXTQirChannelHandle handle = readyChannel(config);
    unit_.startPeriodicStatus(0, 100, std::chrono::milliseconds(1));
    const Bytes line(4000, 7);
    std::vector<ReplayBlock> blocks(10);
    for (size_t i = 0; i < blocks.size(); ++i)
        blocks[i] = ReplayBlock{
            .properties = { .timestamp = 0, .frameNumber = 0, .lineNumber = static_cast<uint16_t>(i), .streamID = 0 },
            .payload = line.data(),
            .payloadSize = 4000
        };
    size_t sent = 0;
    ASSERT_EQ(api_->replayStreamBlocks(handle, blocks, &sent), NoError); // warm up

    const uint64_t before = qir::test::thread_allocation_count();
    VXTQirError worst = NoError;
    for (int i = 0; i < 20; ++i) {
        const VXTQirError result = api_->replayStreamBlocks(handle, blocks, &sent);
        if (result != NoError)
            worst = result;
    }
    EXPECT_EQ(worst, NoError);
    EXPECT_EQ(qir::test::thread_allocation_count() - before, 0u);
}

} // namespace
} // namespace vxqir::test
