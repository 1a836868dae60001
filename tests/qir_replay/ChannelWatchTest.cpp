// The end of a channel judged from the unit's acknowledgements, fed poll by
// poll with made-up counts: delivered only when everything is acknowledged
// and the FIFO played out; a unit lost after its time-out, also before its
// first status; a FIFO that stands still with lines due is a stall, one
// whose lines wait for their time is not; the time the replay itself stood
// still counts for neither.
#include "ChannelWatch.h"

#include <gtest/gtest.h>

namespace {

using namespace std::chrono_literals;
using qir::replay::ChannelEnd;
using qir::replay::ChannelObservation;
using qir::replay::ChannelWatch;
using qir::replay::WatchLimits;

constexpr uint64_t kFrames = 10;
constexpr uint32_t kFifo = 100;
constexpr int64_t kStartUs = 1'000'000'000;
constexpr int64_t kFramePeriodUs = 100'000;

/// A channel of kFrames frames, one datagram each, one every 100 ms from
/// kStartUs, watched with a 1-s unit time-out and a 2-s stall time-out.
class Watch : public ::testing::Test {
protected:
    ChannelWatch watch{ kFrames, [](uint64_t serial) { return static_cast<int64_t>(serial) * kFramePeriodUs; },
                        WatchLimits{ .unitTimeout = 1000ms, .stallTimeout = 2000ms, .shortestStallKept = 500ms } };
    std::chrono::steady_clock::time_point now = std::chrono::steady_clock::now();

    /// One poll `after` the last: `sent` frames sent, `acknowledged` of them
    /// acknowledged, FIFO free `free`, the unit's clock at `unitUs`, a status
    /// `statusAgeMs` old (-1: none yet), the status count `statuses`.
    ChannelEnd poll(std::chrono::milliseconds after, uint64_t sent, uint64_t acknowledged, uint32_t free,
                    int64_t unitUs, int64_t statusAgeMs = 5, uint64_t statuses = 0)
    {
        now += after;
        statuses_ = statuses > 0 ? statuses : statuses_ + 1;
        VXTQirChannelProgressT progress{};
        progress.datagramsSent = sent;
        progress.framesSent = sent;
        progress.datagramsAcknowledged = acknowledged;
        progress.framesAcknowledged = acknowledged;
        progress.fifoEntries = kFifo;
        progress.statusCount = statusAgeMs < 0 ? 0 : statuses_;
        progress.msSinceStatus = statusAgeMs;
        progress.status.freeFifoEntries = free;
        progress.status.currentTime_ns = static_cast<uint64_t>(unitUs) * 1000u;
        return watch.observe(ChannelObservation{
            .now = now, .progress = progress, .framesHandedOn = sent, .startUs = kStartUs, .continues = continues });
    }

    /// Five frames in the FIFO, then the replay stands still for 7 s
    /// (Ctrl-Z) and goes on: its newest status is 7 s old, and the unit's
    /// clock has passed the frames' play times without the free count
    /// moving.
    ChannelEnd standStill()
    {
        poll(10ms, 5, 5, kFifo - 5, kStartUs, 5, 1);
        ++continues;
        return poll(7000ms, 5, 5, kFifo - 5, kStartUs + 600'000, 7000, 1);
    }

    uint64_t continues = 0; ///< times the replay went on after a stop

private:
    uint64_t statuses_ = 0;
};

TEST_F(Watch, IsDeliveredOnlyOnceEveryFrameIsAcknowledgedAndTheFifoIsFull)
{
    EXPECT_EQ(poll(10ms, 10, 10, kFifo - 1, kStartUs), ChannelEnd::Running) << "a line still in the FIFO";
    EXPECT_EQ(poll(10ms, 10, 9, kFifo, kStartUs), ChannelEnd::Running) << "the last frame not acknowledged";
    EXPECT_EQ(poll(10ms, 10, 10, kFifo, kStartUs + 1), ChannelEnd::Delivered);
    EXPECT_EQ(poll(5000ms, 10, 10, kFifo, kStartUs, 5000), ChannelEnd::Delivered) << "the end is kept";
}

TEST_F(Watch, AUnitSilentForItsTimeOutIsLostAlsoBeforeItsFirstStatus)
{
    EXPECT_EQ(poll(10ms, 2, 0, kFifo, 0, -1), ChannelEnd::Running);
    EXPECT_EQ(poll(900ms, 2, 0, kFifo, 0, -1), ChannelEnd::Running);
    EXPECT_EQ(poll(200ms, 2, 0, kFifo, 0, -1), ChannelEnd::Lost);

    ChannelWatch later{ kFrames, [](uint64_t) { return int64_t{ 0 }; }, WatchLimits{} };
    VXTQirChannelProgressT progress{};
    progress.fifoEntries = kFifo;
    progress.statusCount = 50;
    progress.msSinceStatus = 1200;
    progress.status.freeFifoEntries = kFifo;
    EXPECT_EQ(later.observe({ .now = now, .progress = progress, .framesHandedOn = 3, .startUs = kStartUs }),
              ChannelEnd::Lost);
    ASSERT_TRUE(later.statusAgeSeconds());
    EXPECT_DOUBLE_EQ(*later.statusAgeSeconds(), 1.2);
}

TEST_F(Watch, LinesWaitingForTheirTimeAreNoStall)
{
    // Three frames in the FIFO, the unit's clock before the first one's
    // play time for 5 s: a long lead, not a stall.
    for (int i = 0; i < 50; ++i)
        ASSERT_EQ(poll(100ms, 3, 3, kFifo - 3, kStartUs - 5'000'000 + i * 100'000), ChannelEnd::Running) << i;
    EXPECT_TRUE(watch.stalls().empty());
}

TEST_F(Watch, AFifoThatStandsStillWithLinesDueStallsAfterTheTimeOut)
{
    ASSERT_EQ(poll(10ms, 5, 5, kFifo - 5, kStartUs), ChannelEnd::Running);
    // The clock runs past frame 5's play time, the free count stays.
    ChannelEnd end = ChannelEnd::Running;
    int polls = 0;
    while (end == ChannelEnd::Running && polls < 100)
        end = poll(100ms, 5, 5, kFifo - 5, kStartUs + 600'000 + ++polls * 100'000);
    EXPECT_EQ(end, ChannelEnd::Stalled);
    EXPECT_GE(polls, 19);
    EXPECT_LE(polls, 21);
    ASSERT_EQ(watch.stalls().size(), 1u);
    EXPECT_NEAR(watch.stalls()[0].seconds, 2.0, 0.15);
}

TEST_F(Watch, AShorterStallIsKeptOnceTheFifoPlaysAgain)
{
    ASSERT_EQ(poll(10ms, 5, 5, kFifo - 5, kStartUs), ChannelEnd::Running);
    for (int i = 1; i <= 15; ++i)
        ASSERT_EQ(poll(100ms, 5, 5, kFifo - 5, kStartUs + 600'000 + i * 100'000), ChannelEnd::Running);
    ASSERT_EQ(poll(100ms, 5, 5, kFifo - 4, kStartUs + 2'200'000), ChannelEnd::Running);
    ASSERT_EQ(watch.stalls().size(), 1u);
    EXPECT_NEAR(watch.stalls()[0].seconds, 1.6, 0.15);
}

// With frequent statuses the FIFO can play out whole between two polls: the
// status that ends the stall is the one that shows the run delivered.
TEST_F(Watch, AStallThatEndsWithEverythingPlayedIsKeptWithTheDelivery)
{
    ASSERT_EQ(poll(10ms, 10, 10, kFifo - 5, kStartUs), ChannelEnd::Running);
    for (int i = 1; i <= 15; ++i)
        ASSERT_EQ(poll(100ms, 10, 10, kFifo - 5, kStartUs + 600'000 + i * 100'000), ChannelEnd::Running);
    EXPECT_EQ(poll(100ms, 10, 10, kFifo, kStartUs + 2'200'000), ChannelEnd::Delivered);
    ASSERT_EQ(watch.stalls().size(), 1u);
    EXPECT_NEAR(watch.stalls()[0].seconds, 1.6, 0.15);
}

// No status could be taken while the replay stood still: the unit's
// silence and the standing FIFO count from the moment it went on.
TEST_F(Watch, TheTimeTheReplayStoodStillCountsForNoTimeOut)
{
    EXPECT_EQ(standStill(), ChannelEnd::Running);
    // The unit answers at once and plays on: no stall was kept.
    EXPECT_EQ(poll(10ms, 5, 5, kFifo - 4, kStartUs + 610'000), ChannelEnd::Running);
    EXPECT_TRUE(watch.stalls().empty());
}

TEST_F(Watch, AUnitSilentAfterTheReplayWentOnIsLostOneTimeOutLater)
{
    ASSERT_EQ(standStill(), ChannelEnd::Running);
    int polls = 0;
    ChannelEnd end = ChannelEnd::Running;
    while (end == ChannelEnd::Running && polls < 100) {
        ++polls;
        end = poll(100ms, 5, 5, kFifo - 5, kStartUs + 600'000, 7000 + polls * 100, 1);
    }
    EXPECT_EQ(end, ChannelEnd::Lost);
    EXPECT_GE(polls, 10);
    EXPECT_LE(polls, 11);
}

TEST_F(Watch, FramesAcknowledgedAfterTheirPlayTimeAreCountedLate)
{
    // Frames 0..3 acknowledged 150 ms after frame 3's play time.
    ASSERT_EQ(poll(10ms, 4, 4, kFifo - 1, kStartUs + 3 * kFramePeriodUs + 150'000), ChannelEnd::Running);
    EXPECT_EQ(watch.lateness().frames, 4u);
    EXPECT_EQ(watch.lateness().maxUs, 3 * kFramePeriodUs + 150'000);
}

} // namespace
