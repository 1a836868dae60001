// The pauses of a replay: the shift of the frames after a pause, steps in
// time order across channels, runs counted from the pauses before them, and
// players on threads of their own against the keys (also under
// ThreadSanitizer).
#include "PauseClock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <optional>
#include <thread>
#include <vector>

namespace {

using qir::replay::PauseClock;
using namespace std::chrono_literals;

/// A clock the test moves by hand.
struct ManualClock {
    int64_t nowUs = 1'000'000;
    PauseClock pauses{ [this] { return nowUs; } };
};

TEST(PauseClock, FramesAfterAPauseAreShiftedByItAndTheFramesBeforeItAreNot)
{
    ManualClock t;
    t.pauses.beginRun(0);
    ASSERT_EQ(t.pauses.admit(0, 0), 0);
    t.pauses.handedOn(0, 0, 0);
    ASSERT_EQ(t.pauses.admit(0, 100), 0);
    t.pauses.handedOn(0, 1, 0);

    EXPECT_TRUE(t.pauses.pause());
    EXPECT_FALSE(t.pauses.pause()) << "already paused";
    t.nowUs += 250'000;
    EXPECT_EQ(t.pauses.admit(0, 200), std::nullopt) << "held at the frame boundary";
    // A frame not yet handed on plays later the longer the pause lasts.
    EXPECT_EQ(t.pauses.shiftOf(0, 2), 250'000);
    t.nowUs += 750'000;
    EXPECT_EQ(t.pauses.pausedUs(), 1'000'000);
    EXPECT_TRUE(t.pauses.resume());
    EXPECT_FALSE(t.pauses.resume()) << "not paused";
    t.nowUs += 5'000'000;

    ASSERT_EQ(t.pauses.admit(0, 200), 1'000'000);
    t.pauses.handedOn(0, 2, 1'000'000);
    EXPECT_EQ(t.pauses.shiftOf(0, 0), 0);
    EXPECT_EQ(t.pauses.shiftOf(0, 1), 0);
    EXPECT_EQ(t.pauses.shiftOf(0, 2), 1'000'000);
    EXPECT_EQ(t.pauses.shiftOf(0, 9), 1'000'000) << "not handed on: the time paused so far";
    EXPECT_EQ(t.pauses.pauses(), 1u);
}

TEST(PauseClock, AStepGoesToTheFrameThatPlaysFirstAcrossChannelsAndOneAtATime)
{
    ManualClock t;
    for (size_t key = 0; key < 3; ++key)
        t.pauses.beginRun(key);
    EXPECT_FALSE(t.pauses.step()) << "a step while running does nothing";
    t.pauses.pause();
    t.nowUs += 100'000;
    EXPECT_EQ(t.pauses.admit(0, 300'000), std::nullopt);
    EXPECT_EQ(t.pauses.admit(1, 100'000), std::nullopt);
    EXPECT_EQ(t.pauses.admit(2, 200'000), std::nullopt);

    EXPECT_TRUE(t.pauses.step());
    EXPECT_TRUE(t.pauses.step());
    EXPECT_EQ(t.pauses.admit(0, 300'000), std::nullopt);
    EXPECT_EQ(t.pauses.admit(1, 100'000), 100'000) << "the first to play, shifted by the pause until the step";
    EXPECT_EQ(t.pauses.admit(2, 200'000), std::nullopt) << "the second step waits for the first frame to go";
    t.nowUs += 40'000;
    EXPECT_EQ(t.pauses.admit(1, 100'000), 100'000) << "it keeps its step, and its shift, until it hands on";
    t.pauses.handedOn(1, 5, 100'000);

    // Channel 1's next frame (400 ms) now plays after channel 2's.
    EXPECT_EQ(t.pauses.admit(1, 400'000), std::nullopt);
    EXPECT_EQ(t.pauses.admit(2, 200'000), 140'000);
    t.pauses.handedOn(2, 3, 140'000);
    EXPECT_EQ(t.pauses.admit(2, 250'000), std::nullopt) << "two steps, two frames";
    EXPECT_EQ(t.pauses.admit(0, 300'000), std::nullopt);
    EXPECT_TRUE(t.pauses.paused());
}

TEST(PauseClock, AStepWaitsBrieflyForChannelsNotAtTheirBoundaryAndNotForThoseThatLeft)
{
    ManualClock t;
    for (size_t key = 0; key < 3; ++key)
        t.pauses.beginRun(key);
    t.pauses.pause();
    t.pauses.leave(2); // its last frame went
    EXPECT_EQ(t.pauses.admit(0, 500'000), std::nullopt);
    t.pauses.step();
    // Channel 1 is held elsewhere (flow control): its frame may come first.
    EXPECT_EQ(t.pauses.admit(0, 500'000), std::nullopt);
    t.nowUs += 250'000;
    EXPECT_EQ(t.pauses.admit(0, 500'000), 250'000) << "after a while the step goes to the frames that wait";
    // Stopped with its step unused, it hands the step on.
    t.pauses.leave(0);
    EXPECT_EQ(t.pauses.admit(1, 700'000), 250'000);
}

TEST(PauseClock, ResumingDropsStepsNotTaken)
{
    ManualClock t;
    t.pauses.beginRun(0);
    t.pauses.beginRun(1);
    t.pauses.pause();
    t.pauses.step();
    t.nowUs += 10'000;
    t.pauses.resume();
    t.pauses.pause();
    EXPECT_EQ(t.pauses.admit(0, 0), std::nullopt);
    EXPECT_EQ(t.pauses.admit(1, 0), std::nullopt);
}

TEST(PauseClock, ARunCountsItsShiftsFromThePausesBeforeIt)
{
    ManualClock t;
    t.pauses.beginRun(0);
    ASSERT_EQ(t.pauses.admit(0, 0), 0);
    t.pauses.handedOn(0, 0, 0);
    t.pauses.toggle();
    t.nowUs += 300'000;
    t.pauses.toggle();
    EXPECT_FALSE(t.pauses.paused());
    // A unit lost and found again: the channel's next run starts anew.
    t.pauses.beginRun(0);
    EXPECT_EQ(t.pauses.baseOf(0), 300'000);
    EXPECT_EQ(t.pauses.shiftOf(0, 0), 0) << "the frames of the earlier run are forgotten";
    ASSERT_EQ(t.pauses.admit(0, 0), 300'000);
    t.pauses.toggle();
    t.nowUs += 200'000;
    EXPECT_EQ(t.pauses.shiftOf(0, 7), 200'000);
}

// Players on threads of their own, as the engine runs them, and the keys on
// another: every frame goes once and in order, with shifts that only grow,
// and each step lets exactly one frame of all channels go.
TEST(PauseClock, PlayersOnTheirOwnThreadsHoldAtPausesAndTakeOneFramePerStep)
{
    constexpr size_t kChannels = 3;
    constexpr uint64_t kFrames = 2000;
    PauseClock pauses;
    for (size_t key = 0; key < kChannels; ++key)
        pauses.beginRun(key);
    std::atomic<uint64_t> handedOn{ 0 };
    std::vector<std::atomic<bool>> held(kChannels);
    std::vector<std::vector<int64_t>> shifts(kChannels);
    const auto deadline = std::chrono::steady_clock::now() + 30s; // a hang fails instead of blocking
    std::vector<std::thread> players;
    for (size_t key = 0; key < kChannels; ++key)
        players.emplace_back([&, key] {
            for (uint64_t serial = 0; serial < kFrames && std::chrono::steady_clock::now() < deadline;) {
                const auto replayUs = static_cast<int64_t>(serial * (100 + key * 7));
                const std::optional<int64_t> shift = pauses.admit(key, replayUs);
                held[key].store(!shift.has_value());
                if (!shift) {
                    std::this_thread::sleep_for(100us);
                    continue;
                }
                pauses.handedOn(key, serial, *shift);
                shifts[key].push_back(*shift);
                handedOn.fetch_add(1);
                ++serial;
                std::this_thread::sleep_for(50us); // a frame period
            }
            pauses.leave(key);
            held[key].store(true); // nothing more to hold
        });

    const auto waitUntil = [&](auto predicate) {
        while (!predicate() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(1ms);
        return predicate();
    };
    const auto allHeld = [&] {
        for (const auto& h : held)
            if (!h.load())
                return false;
        return true;
    };
    for (int round = 0; round < 5; ++round) {
        std::this_thread::sleep_for(2ms);
        pauses.pause();
        ASSERT_TRUE(waitUntil(allHeld)) << "round " << round;
        const uint64_t before = handedOn.load();
        if (before >= kChannels * kFrames - 3)
            break;
        for (uint64_t step = 1; step <= 3; ++step) {
            pauses.step();
            ASSERT_TRUE(waitUntil([&] { return handedOn.load() >= before + step; })) << "round " << round;
            ASSERT_TRUE(waitUntil(allHeld));
            EXPECT_EQ(handedOn.load(), before + step) << "round " << round << ": one frame per step";
        }
        pauses.resume();
    }
    pauses.resume();
    for (std::thread& player : players)
        player.join();
    EXPECT_EQ(handedOn.load(), kChannels * kFrames);
    for (size_t key = 0; key < kChannels; ++key) {
        ASSERT_EQ(shifts[key].size(), kFrames);
        for (uint64_t serial = 1; serial < kFrames; ++serial)
            ASSERT_GE(shifts[key][serial], shifts[key][serial - 1]) << "channel " << key << " frame " << serial;
        EXPECT_EQ(pauses.shiftOf(key, kFrames - 1), shifts[key].back());
    }
}

} // namespace
