// Sensor data from the client library through the emulated unit: what was
// sent arrives whole, on every channel, under the unit's flow control.

#include "E2eUnit.h"
#include "RawUnitClient.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace vxqir::e2e {
namespace {

using namespace std::chrono_literals;
using sim::ChannelSnapshot;
using sim::testing::patternFrameChecksum;

struct Geometry {
    uint16_t width;
    uint16_t height;
};

TEST(EndToEndStreaming, SeveralChannelsAtOnceArriveWholeWithTheSendersChecksums)
{
    sim::EmulatorConfig config;
    config.channels = 3;
    E2eUnit unit(config, /*maxPayload=*/1000);
    // Channel 1's lines span several datagrams (the library cuts them at
    // multiples of 8); channel 2's lines are shorter than one datagram.
    const Geometry geometry[3] = { { 1000, 48 }, { 2501, 20 }, { 17, 64 } };
    constexpr uint16_t FRAMES = 5;

    std::vector<std::unique_ptr<RegisteredChannel>> channels;
    for (int c = 0; c < 3; ++c) {
        channels.push_back(std::make_unique<RegisteredChannel>(unit, c));
        ASSERT_EQ(channels.back()->result(), NoError);
        ASSERT_EQ(VXQIR_InitOutputChannel(channels.back()->handle(), geometry[c].width, geometry[c].height), NoError);
    }
    std::vector<VXTQirError> results(3, InternalError);
    std::vector<std::thread> senders;
    for (int c = 0; c < 3; ++c) {
        senders.emplace_back([&, c] {
            results[c] = streamPatternFrames(channels[c]->handle(), 0, FRAMES, geometry[c].width, geometry[c].height);
        });
    }
    for (auto& t : senders)
        t.join();

    for (unsigned c = 0; c < 3; ++c) {
        SCOPED_TRACE("channel " + std::to_string(c));
        EXPECT_EQ(results[c], NoError) << VXQIR_ErrorToString(results[c]);
        ASSERT_TRUE(unit.waitFor(c, [](const ChannelSnapshot& s) { return s.frames.framesComplete == FRAMES; }));
    }
    unit.emulator().drainChecksums();
    for (unsigned c = 0; c < 3; ++c) {
        SCOPED_TRACE("channel " + std::to_string(c));
        const ChannelSnapshot s = unit.channel(c);
        EXPECT_EQ(s.frames.framesIncomplete, 0u);
        EXPECT_EQ(s.packetGaps, 0u);
        EXPECT_EQ(s.badDatagrams, 0u);
        EXPECT_EQ(s.blocks, static_cast<uint64_t>(FRAMES) * geometry[c].height);
        EXPECT_EQ(s.frameWidth, geometry[c].width);
        EXPECT_EQ(s.frameHeight, geometry[c].height);
        ASSERT_TRUE(s.lastChecksum);
        EXPECT_EQ(*s.lastChecksum, patternFrameChecksum(FRAMES - 1, geometry[c].height, geometry[c].width));
    }
}

TEST(EndToEndStreaming, BackPressurePausesTheSenderUntilTheUnitFreesItsFifo)
{
    sim::EmulatorConfig config;
    config.channel.fifoEntries = 50;
    E2eUnit unit(config, 1448, 2000, /*timeoutStreamMs=*/20000);
    RegisteredChannel channel(unit, 0);
    ASSERT_EQ(channel.result(), NoError);
    ASSERT_EQ(VXQIR_InitOutputChannel(channel.handle(), 64, 100), NoError);
    unit.emulator().freezeFifo(0);

    std::atomic<int> linesSent{ 0 };
    VXTQirError result = InternalError;
    std::thread sender([&] {
        std::vector<uint8_t> line(64, 0x11);
        result = NoError;
        for (uint16_t l = 0; l < 100 && result == NoError; ++l) {
            VXTQirPacketPropertiesT packet{};
            packet.lineNumber = l;
            result = VXQIR_ReplayStreamData(channel.handle(), &packet, line.data(), 64);
            if (result == NoError)
                linesSent.fetch_add(1);
        }
    });

    // The sender stops once less than a fifth of the FIFO is free: about 40
    // lines, a few more when a status overtook lines still on their way.
    ASSERT_TRUE(unit.waitFor(0, [](const ChannelSnapshot& s) { return s.fifoUsed >= 40; }));
    int pausedAt = -1;
    const auto deadline = std::chrono::steady_clock::now() + WAIT;
    while (pausedAt < 0 && std::chrono::steady_clock::now() < deadline) {
        const int before = linesSent.load();
        std::this_thread::sleep_for(50ms); // five status periods
        if (linesSent.load() == before)
            pausedAt = before;
    }
    ASSERT_GE(pausedAt, 40) << "the sender must wait while the FIFO stays full";
    EXPECT_LT(pausedAt, 50);
    EXPECT_EQ(unit.channel(0).fifoUsed, static_cast<uint32_t>(pausedAt)) << "every line sent waits in the FIFO";

    unit.emulator().releaseFifo(0);
    sender.join();
    EXPECT_EQ(result, NoError) << VXQIR_ErrorToString(result);
    EXPECT_EQ(linesSent.load(), 100);
    ASSERT_TRUE(unit.waitFor(0, [](const ChannelSnapshot& s) { return s.frames.framesComplete == 1; }));
    const ChannelSnapshot s = unit.channel(0);
    EXPECT_EQ(s.fifo.overflows, 0u) << "flow control must keep the FIFO from overflowing";
    EXPECT_FALSE(s.loss);
    EXPECT_EQ(s.packetGaps, 0u);
}

TEST(EndToEndStreaming, AFifoThatStaysFrozenEndsTheSendInTimeout)
{
    sim::EmulatorConfig config;
    config.channel.fifoEntries = 10;
    E2eUnit unit(config, 1448, 2000, /*timeoutStreamMs=*/300);
    RegisteredChannel channel(unit, 0);
    ASSERT_EQ(VXQIR_InitOutputChannel(channel.handle(), 8, 100), NoError);
    unit.emulator().freezeFifo(0);
    EXPECT_EQ(streamPatternFrames(channel.handle(), 0, 1, 8, 100), Timeout);
    EXPECT_EQ(unit.channel(0).fifo.overflows, 0u);
}

TEST(EndToEndStreaming, QuickRunsOneAfterAnotherAreCountedEachInFull)
{
    // Each run registers, prepares, sends one frame and unregisters at once:
    // the unit must count every run's datagrams with that run, and every
    // frame as complete and played.
    sim::EmulatorConfig config;
    config.channels = 4;
    config.statusPeriod = 2ms;
    E2eUnit unit(config, 1448, 2000, 5000);
    constexpr int THREADS = 4;
    constexpr int RUNS = 150;
    constexpr uint16_t WIDTH = 100;
    constexpr uint16_t HEIGHT = 8;
    std::vector<int> failures(THREADS, 0);
    std::vector<std::thread> runners;
    for (int t = 0; t < THREADS; ++t) {
        runners.emplace_back([&, t] {
            for (int run = 0; run < RUNS && failures[t] == 0; ++run) {
                RegisteredChannel channel(unit, t);
                if (channel.result() != NoError ||
                    VXQIR_InitOutputChannel(channel.handle(), WIDTH, HEIGHT) != NoError ||
                    streamPatternFrames(channel.handle(), static_cast<uint16_t>(run), 1, WIDTH, HEIGHT) != NoError)
                    ++failures[t];
            }
        });
    }
    for (auto& r : runners)
        r.join();

    for (unsigned c = 0; c < THREADS; ++c) {
        SCOPED_TRACE("channel " + std::to_string(c));
        EXPECT_EQ(failures[c], 0);
        ASSERT_TRUE(unit.waitFor(c, [](const ChannelSnapshot& s) { return s.frames.framesComplete == RUNS; }));
        const ChannelSnapshot s = unit.channel(c);
        EXPECT_EQ(s.frames.framesStarted, static_cast<uint64_t>(RUNS));
        EXPECT_EQ(s.frames.framesIncomplete, 0u);
        EXPECT_EQ(s.fifo.framesPlayed, static_cast<uint64_t>(RUNS));
        EXPECT_EQ(s.datagrams, static_cast<uint64_t>(RUNS) * HEIGHT);
        EXPECT_EQ(s.datagramsWhileDisabled, 0u);
        EXPECT_EQ(s.packetsLate, 0u);
        EXPECT_EQ(s.packetGaps, 0u);
    }
}

} // namespace
} // namespace vxqir::e2e
