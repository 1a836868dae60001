#include "QIRBufferNotifier.h"

#include <gtest/gtest.h>

#include <chrono>
#include <ostream>
#include <vector>
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

class SendingCondition : public ::testing::TestWithParam<WindowCase> { };

TEST_P(SendingCondition, FollowsTheFreeShareAndThePacketWindow)
{
    const WindowCase& c = GetParam();
    QIRBufferNotifier notifier(std::chrono::milliseconds(0));
    notifier.setTotalBuffer(c.total);
    notifier.updateStatus(status(c.free, c.rx));
    EXPECT_EQ(notifier.maySend(c.next), c.maySend);
}

INSTANTIATE_TEST_SUITE_P(Cases, SendingCondition,
                         ::testing::Values(WindowCase{ 100, 19, 0, 0, false },          // below a fifth free
                                           WindowCase{ 100, 20, 0, 0, true },           // exactly a fifth
                                           WindowCase{ 0, 100, 0, 0, false },           // FIFO size unknown
                                           WindowCase{ 100, 0, 0, 0, false },           // nothing free
                                           WindowCase{ 100, 100, 4000, 20000, true },   // 16000 ahead
                                           WindowCase{ 100, 100, 4000, 20001, false },  // 16001 ahead
                                           WindowCase{ 100, 100, 65535, 5, true },      // our counter wrapped first
                                           WindowCase{ 100, 100, 60000, 10464, true },  // 16000 ahead across the wrap
                                           WindowCase{ 100, 100, 60000, 10465, false }, // 16001 ahead across the wrap
                                           WindowCase{ 100, 100, 30000, 5, true }), // the unit ahead: an earlier run
                         [](const auto& testCase) {
                             const WindowCase& c = testCase.param;
                             return "Total" + std::to_string(c.total) + "Free" + std::to_string(c.free) + "Rx" +
                                 std::to_string(c.rx) + "Next" + std::to_string(c.next);
                         });

struct InFlightCase {
    const char* name;
    std::vector<uint16_t> blocksEndingAt; // last packet number of each block sent
    uint32_t reportedFree;
    uint16_t rx;
    uint32_t expectedFree;
    uint32_t expectedInFlight;
};

void PrintTo(const InFlightCase& c, std::ostream* out)
{
    *out << c.name;
}

class StatusAndBlocksInFlight : public ::testing::TestWithParam<InFlightCase> { };

TEST_P(StatusAndBlocksInFlight, CountOnlyTheEntriesNotYetTakenByBlocksOnTheirWay)
{
    const InFlightCase& c = GetParam();
    QIRBufferNotifier notifier(std::chrono::milliseconds(0));
    notifier.setTotalBuffer(100);
    notifier.updateStatus(status(100, 65535));
    for (uint16_t last : c.blocksEndingAt)
        notifier.blockSent(last, notifier.lastReceivedPacket());
    notifier.updateStatus(status(c.reportedFree, c.rx));
    EXPECT_EQ(notifier.freeBufferSlots(), c.expectedFree);
    EXPECT_EQ(notifier.blocksInFlight(), c.expectedInFlight);
}

INSTANTIATE_TEST_SUITE_P(Cases, StatusAndBlocksInFlight,
                         ::testing::Values(InFlightCase{ "AllAcknowledged", { 1, 3, 5 }, 50, 5, 50, 0 },
                                           InFlightCase{ "TwoStillOnTheirWay", { 1, 3, 5 }, 50, 1, 48, 2 },
                                           InFlightCase{ "AcknowledgedMidBlock", { 1, 3, 5 }, 50, 4, 49, 1 },
                                           InFlightCase{ "NoneAcknowledgedYet", { 1, 3, 5 }, 50, 0, 47, 3 },
                                           InFlightCase{ "MoreInFlightThanReportedFree", { 1, 3, 5 }, 2, 0, 0, 3 },
                                           InFlightCase{ "AcrossTheWrap", { 65534, 2, 9 }, 50, 3, 49, 1 }),
                         [](const auto& testCase) { return std::string(testCase.param.name); });

TEST(BufferNotifier, ABlockSentTakesAnEntryUntilTheNextStatus)
{
    QIRBufferNotifier notifier(std::chrono::milliseconds(0));
    notifier.setTotalBuffer(100);
    notifier.updateStatus(status(30, 0));
    notifier.blockSent(1, notifier.lastReceivedPacket());
    notifier.blockSent(2, notifier.lastReceivedPacket());
    EXPECT_EQ(notifier.freeBufferSlots(), 28u);
    // A status that still predates both blocks reports the same 30 free:
    // they are not counted twice, and not forgotten either.
    notifier.updateStatus(status(30, 0));
    EXPECT_EQ(notifier.freeBufferSlots(), 28u);
    notifier.updateStatus(status(28, 2));
    EXPECT_EQ(notifier.freeBufferSlots(), 28u);
    EXPECT_EQ(notifier.blocksInFlight(), 0u);
}

TEST(BufferNotifier, AStatusWrittenBeforeTheFirstBlockArrivedDoesNotFreeItsEntry)
{
    // An idle unit reports packet 0 as its latest, and the first block of a
    // run is numbered 0 as well: a status written before that block arrived
    // must not count it as received, or a small FIFO overflows.
    QIRBufferNotifier notifier(std::chrono::milliseconds(0));
    notifier.setTotalBuffer(4);
    notifier.updateStatus(status(4, 0));
    notifier.blockSent(0, notifier.lastReceivedPacket());
    notifier.updateStatus(status(4, 0));
    EXPECT_EQ(notifier.freeBufferSlots(), 3u);
    EXPECT_EQ(notifier.blocksInFlight(), 1u);
    notifier.blockSent(1, notifier.lastReceivedPacket());
    notifier.updateStatus(status(2, 1));
    EXPECT_EQ(notifier.freeBufferSlots(), 2u);
    EXPECT_EQ(notifier.blocksInFlight(), 0u);
}

TEST(BufferNotifier, AStatusThatAcknowledgesBlocksBeforeTheyAreBookedStillFreesTheirEntries)
{
    // The listener may take the status that acknowledges a frame's blocks
    // between their send and their booking. With the unit's FIFO frozen
    // that counter never moves again, so the blocks must be judged against
    // the counter read before they left, or they stay in flight for good
    // and hold the sender back from a FIFO with room.
    QIRBufferNotifier notifier(std::chrono::milliseconds(0));
    notifier.setTotalBuffer(4);
    notifier.updateStatus(status(4, 0));
    const uint16_t rxBeforeSend = notifier.lastReceivedPacket();
    notifier.updateStatus(status(2, 1)); // packets 0 and 1 arrived and are queued
    notifier.blockSent(0, rxBeforeSend);
    notifier.blockSent(1, rxBeforeSend);
    notifier.updateStatus(status(2, 1)); // the next status of the frozen FIFO
    EXPECT_EQ(notifier.blocksInFlight(), 0u);
    EXPECT_EQ(notifier.freeBufferSlots(), 2u);
    EXPECT_TRUE(notifier.maySend(2));
}

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
