#include "QIRBufferNotifier.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

namespace vxqir {
namespace {

ReplayStatusMessage status(uint32_t freeEntries, uint16_t rxPacket)
{
    ReplayStatusMessage message{};
    message.response_type = RESPONSE_PERIODIC_STATUS;
    message.payload.status.free_fifo_entries = freeEntries;
    message.payload.status.rx_packet_num = rxPacket;
    return message;
}

struct WindowCase {
    uint32_t total;
    uint32_t free;
    uint16_t rx;
    uint16_t next;
    bool maySend;
};

class SendingCondition : public ::testing::TestWithParam<WindowCase> {};

TEST_P(SendingCondition, FollowsTheFreeShareAndThePacketWindow)
{
    const WindowCase& c = GetParam();
    QIRBufferNotifier notifier(std::chrono::milliseconds(0));
    notifier.setTotalBuffer(c.total);
    notifier.updateStatus(status(c.free, c.rx));
    EXPECT_EQ(notifier.maySend(c.next), c.maySend);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SendingCondition,
    ::testing::Values(WindowCase{ 100, 19, 0, 0, false },   // below a fifth free
                      WindowCase{ 100, 20, 0, 0, true },    // exactly a fifth
                      WindowCase{ 0, 100, 0, 0, false },    // FIFO size unknown
                      WindowCase{ 100, 0, 0, 0, false },    // nothing free
                      WindowCase{ 100, 100, 4000, 20000, true },  // 16000 ahead
                      WindowCase{ 100, 100, 4000, 20001, false }, // 16001 ahead
                      WindowCase{ 100, 100, 65535, 5, true }),    // our counter wrapped first
    [](const auto& testCase) {
        const WindowCase& c = testCase.param;
        return "Total" + std::to_string(c.total) + "Free" + std::to_string(c.free) + "Rx" +
               std::to_string(c.rx) + "Next" + std::to_string(c.next);
    });

TEST(BufferNotifier, WaitsForAStatusThatFreesRoom)
{
    QIRBufferNotifier notifier(std::chrono::milliseconds(5000));
    notifier.setTotalBuffer(100);
    notifier.updateStatus(status(19, 0));
    std::thread listener([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        notifier.updateStatus(status(50, 0));
    });
    EXPECT_TRUE(notifier.waitForFreeBuffer(0));
    listener.join();
}

TEST(BufferNotifier, GivesUpAfterItsTimeout)
{
    QIRBufferNotifier notifier(std::chrono::milliseconds(50));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(notifier.waitForFreeBuffer(0));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(45));
}

TEST(BufferNotifier, NeverCountsFreeEntriesBelowZero)
{
    QIRBufferNotifier notifier(std::chrono::milliseconds(0));
    notifier.setTotalBuffer(100);
    notifier.updateStatus(status(1, 0));
    notifier.decreaseAvailableBufferSlots();
    notifier.decreaseAvailableBufferSlots(); // a status said 0 while a block was on its way
    EXPECT_EQ(notifier.freeBufferSlots(), 0u);
    EXPECT_FALSE(notifier.maySend(0));
}

} // namespace
} // namespace vxqir
