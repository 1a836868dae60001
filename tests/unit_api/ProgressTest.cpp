// What the unit acknowledged of a channel: 64-bit counts of the datagrams and
// frames sent and acknowledged, the unit's 16-bit packet number widened
// against what was sent, and the age of the latest status.
#include "ApiFixture.h"

#include <atomic>
#include <string>
#include <thread>

namespace vxqir::test {
namespace {

using namespace std::chrono_literals;

constexpr uint16_t kWidth = 8; // one datagram a line

class ChannelProgress : public ApiFixture {
protected:
    VXTQirChannelProgressT progressOf(VXTQirChannelHandle handle)
    {
        VXTQirChannelProgressT progress{};
        EXPECT_EQ(api_->getChannelProgress(handle, &progress), NoError);
        return progress;
    }

    // Sends `frames` frames of `height` lines, one datagram each.
    void sendFrames(VXTQirChannelHandle handle, uint16_t frames, uint16_t height)
    {
        const uint8_t line[kWidth] = { 1, 2, 3, 4, 5, 6, 7, 8 };
        for (uint16_t f = 0; f < frames; ++f) {
            for (uint16_t l = 0; l < height; ++l) {
                VXTQirPacketPropertiesT packet{};
                packet.frameNumber = f;
                packet.lineNumber = l;
                ASSERT_EQ(api_->replayStreamData(handle, &packet, line, sizeof(line)), NoError);
            }
        }
    }

    // Sends a status whose rx_packet_num is `rxPacket` and waits until the
    // library has taken it.
    void statusWith(VXTQirChannelHandle handle, uint16_t rxPacket, uint32_t freeEntries = 100)
    {
        const uint64_t before = progressOf(handle).statusCount;
        unit_.sendStatus(0, STATUS_FLAG_ENABLED, rxPacket, freeEntries, 1);
        ASSERT_TRUE(eventually([&] { return progressOf(handle).statusCount > before; }));
    }
};

TEST_F(ChannelProgress, BeforeTheFirstStatusTellsNoAgeAndAZeroStatus)
{
    const VXTQirChannelHandle handle = registerChannel(unit_.config());
    VXTQirChannelProgressT progress = progressOf(handle);
    EXPECT_EQ(progress.fifoEntries, 0u) << "the FIFO size is read at initialisation";
    ASSERT_EQ(api_->initOutputChannel(handle, kWidth, 2), NoError);

    progress = progressOf(handle);
    EXPECT_EQ(progress.msSinceStatus, -1);
    EXPECT_EQ(progress.statusCount, 0u);
    EXPECT_EQ(progress.fifoEntries, 100u);
    EXPECT_FALSE(progress.status.enabled);
    EXPECT_EQ(progress.status.freeFifoEntries, 0u);

    statusWith(handle, 0, 77);
    std::this_thread::sleep_for(50ms);
    progress = progressOf(handle);
    EXPECT_EQ(progress.statusCount, 1u);
    EXPECT_GE(progress.msSinceStatus, 50);
    EXPECT_TRUE(progress.status.enabled);
    EXPECT_EQ(progress.status.freeFifoEntries, 77u);
    EXPECT_EQ(progress.datagramsAcknowledged, 0u) << "a status before any datagram acknowledges none";
}

// The first packet number of a run of 3 frames of 4 lines (12 datagrams).
class AcknowledgementAcrossTheWrap : public ChannelProgress, public ::testing::WithParamInterface<uint16_t> { };

TEST_P(AcknowledgementAcrossTheWrap, CountsFramesWhoseLastDatagramTheUnitReceived)
{
    const uint16_t first = GetParam();
    const VXTQirChannelHandle handle = readyChannel(unit_.config());
    ASSERT_EQ(api_->initOutputChannel(handle, kWidth, 4), NoError);
    api_->channel(handle)->setNextPacketNumber(first);
    sendFrames(handle, 3, 4);
    auto packet = [&](int index) { return static_cast<uint16_t>(first + index); };

    VXTQirChannelProgressT progress = progressOf(handle);
    EXPECT_EQ(progress.datagramsSent, 12u);
    EXPECT_EQ(progress.framesSent, 3u);
    EXPECT_EQ(progress.datagramsAcknowledged, 0u);
    EXPECT_EQ(progress.framesAcknowledged, 0u);

    statusWith(handle, packet(6)); // the second frame ends at 7
    progress = progressOf(handle);
    EXPECT_EQ(progress.datagramsAcknowledged, 7u);
    EXPECT_EQ(progress.framesAcknowledged, 1u);

    statusWith(handle, packet(7));
    EXPECT_EQ(progressOf(handle).framesAcknowledged, 2u);

    statusWith(handle, packet(11));
    progress = progressOf(handle);
    EXPECT_EQ(progress.datagramsAcknowledged, 12u);
    EXPECT_EQ(progress.framesAcknowledged, 3u);

    // A late status and numbers the channel never sent change nothing.
    statusWith(handle, packet(2));
    statusWith(handle, packet(40));
    statusWith(handle, packet(-1));
    progress = progressOf(handle);
    EXPECT_EQ(progress.datagramsAcknowledged, 12u);
    EXPECT_EQ(progress.framesAcknowledged, 3u);
    EXPECT_EQ(progress.statusCount, 7u); // readyChannel's and six here
}

INSTANTIATE_TEST_SUITE_P(FirstPacket, AcknowledgementAcrossTheWrap, ::testing::Values(0, 65530, 65535),
                         [](const ::testing::TestParamInfo<uint16_t>& testCase) {
                             return "From" + std::to_string(testCase.param);
                         });

TEST_F(ChannelProgress, MoreUnacknowledgedFramesThanItKeepsLagButNeverRunAhead)
{
    constexpr uint16_t kFrames = ChannelState::FRAME_ENDS_KEPT + 100;
    unit_.setFifoEntries(100000);
    const VXTQirChannelHandle handle = readyChannel(unit_.config(), 100000);
    ASSERT_EQ(api_->initOutputChannel(handle, kWidth, 1), NoError); // one datagram a frame
    sendFrames(handle, kFrames, 1);
    ASSERT_EQ(progressOf(handle).framesSent, kFrames);

    statusWith(handle, 50, 100000);
    VXTQirChannelProgressT progress = progressOf(handle);
    EXPECT_EQ(progress.datagramsAcknowledged, 51u);
    EXPECT_LE(progress.framesAcknowledged, 51u);

    statusWith(handle, 600, 100000);
    EXPECT_EQ(progressOf(handle).framesAcknowledged, 601u);

    statusWith(handle, static_cast<uint16_t>(kFrames - 1), 100000);
    progress = progressOf(handle);
    EXPECT_EQ(progress.datagramsAcknowledged, kFrames);
    EXPECT_EQ(progress.framesAcknowledged, kFrames);
}

TEST_F(ChannelProgress, ChecksTheHandleBeforeThePointer)
{
    const VXTQirChannelHandle handle = readyChannel(unit_.config());
    VXTQirChannelProgressT progress{};
    EXPECT_EQ(api_->getChannelProgress(handle + 1, nullptr), InvalidChannelHandle);
    EXPECT_EQ(api_->getChannelProgress(handle + 1, &progress), InvalidChannelHandle);
    EXPECT_EQ(api_->getChannelProgress(handle, nullptr), InvalidPointer);
    ASSERT_EQ(api_->unregisterOutputChannel(handle), NoError);
    EXPECT_EQ(api_->getChannelProgress(handle, &progress), InvalidChannelHandle);
}

struct LookupCase {
    const char* name;
    bool nullAddress;
    const char* address; // null: the unit's
    int portDelta;
    VXTQirChannelNumber channel;
    bool nullProgress;
    VXTQirError expected;
};

class ProgressLookup : public ChannelProgress, public ::testing::WithParamInterface<LookupCase> { };

TEST_P(ProgressLookup, FindsTheChannelByItsUnitsControlAddressAndIndex)
{
    const LookupCase& c = GetParam();
    const VXTQirChannelHandle handle = readyChannel(unit_.config());
    ASSERT_EQ(api_->initOutputChannel(handle, kWidth, 2), NoError);
    sendFrames(handle, 2, 2);
    const std::string address = c.address != nullptr ? c.address : unit_.controlIp();
    VXTQirChannelProgressT progress{};
    const VXTQirError result = api_->getChannelProgressAt(c.nullAddress ? nullptr : address.c_str(),
                                                          static_cast<uint16_t>(unit_.controlPort() + c.portDelta),
                                                          c.channel, c.nullProgress ? nullptr : &progress);
    EXPECT_EQ(result, c.expected);
    if (result == NoError) {
        EXPECT_EQ(progress.framesSent, 2u);
        EXPECT_EQ(progress.datagramsSent, 4u);
        EXPECT_EQ(progress.statusCount, progressOf(handle).statusCount);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ProgressLookup,
    ::testing::Values(LookupCase{ "TheRegisteredChannel", false, nullptr, 0, 0, false, NoError },
                      LookupCase{ "AnotherPort", false, nullptr, 1, 0, false, ChannelNotAvailable },
                      LookupCase{ "AnotherChannel", false, nullptr, 0, 1, false, ChannelNotAvailable },
                      LookupCase{ "AnotherAddress", false, "127.0.0.9", 0, 0, false, ChannelNotAvailable },
                      LookupCase{ "NotAnAddress", false, "unit-a", 0, 0, false, ChannelNotAvailable },
                      LookupCase{ "NoAddress", true, nullptr, 0, 0, false, InvalidPointer },
                      LookupCase{ "NoProgress", false, nullptr, 0, 0, true, InvalidPointer },
                      LookupCase{ "NoAddressForAnUnknownChannel", true, nullptr, 0, 7, false, InvalidPointer }),
    [](const ::testing::TestParamInfo<LookupCase>& testCase) { return testCase.param.name; });

// The counts are renewed by the sending thread and the listener while other
// threads read them (run under ThreadSanitizer as well).
TEST_F(ChannelProgress, IsReadWhileFramesAreSentAndStatusesArrive)
{
    const VXTQirChannelHandle handle = readyChannel(unit_.config());
    ASSERT_EQ(api_->initOutputChannel(handle, kWidth, 4), NoError);
    unit_.startPeriodicStatus(0, 100, 1ms);
    std::atomic<bool> done{ false };
    std::thread reader([&] {
        uint64_t lastSent = 0;
        for (int i = 0; i < 100000 && !done.load(); ++i) {
            VXTQirChannelProgressT progress{};
            ASSERT_EQ(api_->getChannelProgressAt(unit_.controlIp().c_str(), unit_.controlPort(), 0, &progress),
                      NoError);
            ASSERT_GE(progress.datagramsSent, lastSent);
            ASSERT_LE(progress.framesAcknowledged, progress.framesSent);
            lastSent = progress.datagramsSent;
        }
    });
    sendFrames(handle, 50, 4);
    done = true;
    reader.join();
    unit_.stopPeriodicStatus();
    EXPECT_EQ(progressOf(handle).framesSent, 50u);
}

// A send that finds no FIFO room within the stream time-out counts once per
// call, single line or batch, while another thread reads the count (run
// under ThreadSanitizer as well); sends that go do not count.
TEST_F(ChannelProgress, CountsEverySendThatFoundNoFifoRoomWithinTheStreamTimeOut)
{
    const VXTQirChannelHandle handle = registerChannel(unit_.config(1448, 1000, 30));
    ASSERT_EQ(api_->initOutputChannel(handle, kWidth, 2), NoError);
    statusWith(handle, 0, 0); // a frozen FIFO: no entry free
    std::atomic<bool> done{ false };
    std::thread reader([&] {
        uint64_t last = 0;
        for (int i = 0; i < 100000 && !done.load(); ++i) {
            VXTQirChannelProgressT progress{};
            ASSERT_EQ(api_->getChannelProgressAt(unit_.controlIp().c_str(), unit_.controlPort(), 0, &progress),
                      NoError);
            ASSERT_GE(progress.sendTimeouts, last);
            last = progress.sendTimeouts;
            std::this_thread::sleep_for(1ms);
        }
    });
    const uint8_t line[kWidth] = { 1, 2, 3, 4, 5, 6, 7, 8 };
    for (uint16_t l = 0; l < 3; ++l) {
        VXTQirPacketPropertiesT packet{};
        packet.lineNumber = l % 2;
        EXPECT_EQ(api_->replayStreamData(handle, &packet, line, sizeof(line)), Timeout);
    }
    const VXTQirReplayBlockT blocks[2] = { { .properties = {}, .payload = line, .payloadSize = kWidth },
                                           { .properties = {}, .payload = line, .payloadSize = kWidth } };
    size_t sent = 0;
    EXPECT_EQ(api_->replayStreamBlocks(handle, blocks, 2, &sent), Timeout);
    done = true;
    reader.join();
    VXTQirChannelProgressT progress = progressOf(handle);
    EXPECT_EQ(progress.sendTimeouts, 4u);
    EXPECT_EQ(progress.datagramsSent, 0u);

    statusWith(handle, 0, 100); // room again
    sendFrames(handle, 1, 2);
    progress = progressOf(handle);
    EXPECT_EQ(progress.framesSent, 1u);
    EXPECT_EQ(progress.sendTimeouts, 4u);
}

} // namespace
} // namespace vxqir::test
