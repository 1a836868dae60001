// What the emulated unit acknowledged, through the C API of the progress
// header: counts that reach what was sent once the unit has received it, and
// a status age that grows while the unit is silent.

#include "E2eUnit.h"
#include "VXQIRApiProgress.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace vxqir::e2e {
namespace {

using namespace std::chrono_literals;

VXTQirChannelProgressT progressOf(VXTQirChannelHandle handle)
{
    VXTQirChannelProgressT progress{};
    EXPECT_EQ(VXQIR_GetChannelProgress(handle, &progress), NoError);
    return progress;
}

// Waits (bounded by WAIT) until the channel's progress satisfies `predicate`.
template <typename Predicate>
bool progressReaches(VXTQirChannelHandle handle, Predicate predicate)
{
    const auto deadline = std::chrono::steady_clock::now() + WAIT;
    while (!predicate(progressOf(handle))) {
        if (std::chrono::steady_clock::now() > deadline)
            return predicate(progressOf(handle));
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

TEST(EndToEndProgress, EveryFrameSentIsAcknowledgedOnceTheUnitHasReceivedIt)
{
    sim::EmulatorConfig config;
    config.channel.fifoEntries = 512;
    config.statusPeriod = 5ms;
    E2eUnit unit(config);
    RegisteredChannel channel(unit, 0);
    ASSERT_EQ(channel.result(), NoError);
    constexpr uint16_t FRAMES = 20, WIDTH = 64, HEIGHT = 50;
    ASSERT_EQ(VXQIR_InitOutputChannel(channel.handle(), WIDTH, HEIGHT), NoError);
    EXPECT_EQ(progressOf(channel.handle()).fifoEntries, 512u);

    // Read from another thread all along: the counts only grow and the
    // acknowledged never pass the sent.
    std::atomic<bool> done{ false };
    std::thread reader([&] {
        VXTQirChannelProgressT last{};
        while (!done.load()) {
            VXTQirChannelProgressT now{};
            ASSERT_EQ(VXQIR_GetChannelProgressAt(CONTROL_IP, unit.interface().controlPort, 0, &now), NoError);
            ASSERT_GE(now.datagramsSent, last.datagramsSent);
            ASSERT_GE(now.datagramsAcknowledged, last.datagramsAcknowledged);
            ASSERT_GE(now.framesAcknowledged, last.framesAcknowledged);
            ASSERT_LE(now.datagramsAcknowledged, now.datagramsSent);
            ASSERT_LE(now.framesAcknowledged, now.framesSent);
            last = now;
            std::this_thread::sleep_for(1ms);
        }
    });
    const VXTQirError streamed = streamPatternFrames(channel.handle(), 0, FRAMES, WIDTH, HEIGHT);
    const bool acknowledged = progressReaches(channel.handle(), [](const VXTQirChannelProgressT& p) {
        return p.framesAcknowledged == FRAMES && p.datagramsAcknowledged == p.datagramsSent;
    });
    done = true;
    reader.join();
    ASSERT_EQ(streamed, NoError);
    EXPECT_TRUE(acknowledged);

    const VXTQirChannelProgressT progress = progressOf(channel.handle());
    EXPECT_EQ(progress.framesSent, FRAMES);
    EXPECT_EQ(progress.datagramsSent, uint64_t{ FRAMES } * HEIGHT);
    EXPECT_EQ(progress.datagramsSent, unit.channel(0).datagrams);
    EXPECT_GT(progress.statusCount, 0u);
    EXPECT_GE(progress.msSinceStatus, 0);
    EXPECT_TRUE(progress.status.enabled);
}

TEST(EndToEndProgress, TheStatusAgeGrowsWhileTheUnitIsSilentAndRestartsWhenItSpeaksAgain)
{
    sim::EmulatorConfig config;
    config.statusPeriod = 5ms;
    E2eUnit unit(config);
    RegisteredChannel channel(unit, 0);
    ASSERT_EQ(channel.result(), NoError);
    ASSERT_EQ(VXQIR_InitOutputChannel(channel.handle(), 64, 4), NoError);
    ASSERT_TRUE(progressReaches(channel.handle(), [](const VXTQirChannelProgressT& p) { return p.statusCount > 0; }));

    unit.emulator().setStatusStopped(true);
    // The status that may still be on its way has arrived after a while.
    std::this_thread::sleep_for(50ms);
    const uint64_t count = progressOf(channel.handle()).statusCount;
    std::this_thread::sleep_for(300ms);
    VXTQirChannelProgressT progress = progressOf(channel.handle());
    EXPECT_EQ(progress.statusCount, count);
    EXPECT_GE(progress.msSinceStatus, 300);

    unit.emulator().setStatusStopped(false);
    EXPECT_TRUE(progressReaches(channel.handle(), [&](const VXTQirChannelProgressT& p) {
        return p.statusCount > count && p.msSinceStatus < 300;
    }));
}

} // namespace
} // namespace vxqir::e2e
