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

} // namespace
} // namespace vxqir::test
