// Flow control against a unit whose status lags: the library must count the
// blocks still on their way, or it puts more in flight than the unit's
// replay FIFO holds and frames are lost while every call reports success.

#include "E2eUnit.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace vxqir::e2e {
namespace {

using namespace std::chrono_literals;
using sim::ChannelSnapshot;

TEST(EndToEndFlowControl, ALaggingStatusNeverLetsMoreBlocksFlyThanTheFrozenFifoTakes)
{
    sim::EmulatorConfig config;
    config.channel.fifoEntries = 2048;
    config.statusPeriod = 10ms;
    config.statusDelay = 100ms; // ten statuses on their way at any time
    config.fifoFrozen = true;
    E2eUnit unit(config, 1448, 2000, /*timeoutStreamMs=*/1500);
    RegisteredChannel channel(unit, 0);
    ASSERT_EQ(channel.result(), NoError);
    ASSERT_EQ(VXQIR_InitOutputChannel(channel.handle(), 64, 1000), NoError);

    // Nothing is ever played: the sender must stop at the threshold (a fifth
    // of the FIFO free) and finally give up.
    EXPECT_EQ(streamPatternFrames(channel.handle(), 0, 4, 64, 1000), Timeout);

    const ChannelSnapshot s = unit.channel(0);
    EXPECT_EQ(s.fifo.overflows, 0u) << "blocks sent beyond the FIFO are lost";
    EXPECT_FALSE(s.loss);
    // 2048 entries, of which 410 (a fifth) must stay free: 1639 blocks.
    EXPECT_GE(s.fifoUsed, 1600u);
    EXPECT_LE(s.fifoUsed, 1700u);
}

TEST(EndToEndFlowControl, AFifoFrozenAgainAndAgainOnABusyMachineLosesNoFrame)
{
    sim::EmulatorConfig config;
    config.channel.fifoEntries = 512;
    config.statusPeriod = 5ms;
    config.statusDelay = 30ms;
    E2eUnit unit(config, 1448, 2000, /*timeoutStreamMs=*/10000);
    RegisteredChannel channel(unit, 0);
    ASSERT_EQ(channel.result(), NoError);
    constexpr uint16_t FRAMES = 20;
    constexpr uint16_t WIDTH = 64;
    constexpr uint16_t HEIGHT = 200;
    ASSERT_EQ(VXQIR_InitOutputChannel(channel.handle(), WIDTH, HEIGHT), NoError);

    std::atomic<bool> done{ false };
    const auto giveUp = std::chrono::steady_clock::now() + 60s;
    auto running = [&] { return !done.load() && std::chrono::steady_clock::now() < giveUp; };
    // The unit stops playing for 60 ms of every 90 ms.
    std::thread freezer([&] {
        for (int cycle = 0; cycle < 1000 && running(); ++cycle) {
            unit.emulator().freezeFifo(0);
            std::this_thread::sleep_for(60ms);
            unit.emulator().releaseFifo(0);
            std::this_thread::sleep_for(30ms);
        }
    });
    // Another core busy, as on a shared build machine.
    std::thread busy([&] {
        volatile uint64_t spin = 0;
        while (running())
            spin = spin + 1;
    });

    const VXTQirError result = streamPatternFrames(channel.handle(), 0, FRAMES, WIDTH, HEIGHT);
    done = true;
    freezer.join();
    busy.join();
    unit.emulator().releaseFifo(0);

    EXPECT_EQ(result, NoError) << VXQIR_ErrorToString(result);
    ASSERT_TRUE(unit.waitFor(0, [](const ChannelSnapshot& s) {
        return s.frames.framesComplete + s.frames.framesIncomplete == FRAMES && s.fifoUsed == 0;
    }));
    const ChannelSnapshot s = unit.channel(0);
    EXPECT_EQ(s.fifo.overflows, 0u);
    EXPECT_EQ(s.frames.framesComplete, FRAMES);
    EXPECT_EQ(s.fifo.framesPlayed, FRAMES);
    EXPECT_EQ(s.packetGaps, 0u);
}

} // namespace
} // namespace vxqir::e2e
