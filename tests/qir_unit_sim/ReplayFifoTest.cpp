// The replay FIFO and its playout models, driven by explicit unit times.

#include "EmulatorConfig.h"
#include "ReplayFifo.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace vxqir::sim {
namespace {

constexpr uint64_t MS = 1'000'000;

FifoEntry block(uint64_t arrivalNs, uint64_t timestampNs = 0)
{
    FifoEntry e;
    e.arrivalNs = arrivalNs;
    e.timestampNs = timestampNs;
    return e;
}

TEST(ImmediatePlayout, FreesEveryEntryAsSoonAsItArrives)
{
    ReplayFifo fifo(4, makeImmediatePlayout());
    for (uint64_t t = 0; t < 100; ++t)
        ASSERT_TRUE(fifo.push(block(t)));
    EXPECT_EQ(fifo.freeEntries(100), 4u);
    EXPECT_EQ(fifo.counters().played, 100u);
    EXPECT_EQ(fifo.counters().overflows, 0u);
}

TEST(FrozenFifo, FillsUpThenOverflowsAndEmptiesWhenReleased)
{
    ReplayFifo fifo(3, makeImmediatePlayout());
    fifo.freeze();
    EXPECT_TRUE(fifo.push(block(1)));
    EXPECT_TRUE(fifo.push(block(2)));
    EXPECT_TRUE(fifo.push(block(3)));
    EXPECT_EQ(fifo.freeEntries(10), 0u);
    EXPECT_FALSE(fifo.push(block(11)));
    EXPECT_EQ(fifo.counters().overflows, 1u);
    EXPECT_EQ(fifo.counters().maxFill, 3u);

    fifo.release(20);
    EXPECT_EQ(fifo.freeEntries(20), 3u);
    EXPECT_EQ(fifo.counters().played, 3u);
}

TEST(LineRatePlayout, PlaysOneEntryPerLinePeriod)
{
    ReplayFifo fifo(10, makeLineRatePlayout(1000.0)); // one line per millisecond
    for (int i = 0; i < 5; ++i)
        ASSERT_TRUE(fifo.push(block(0)));
    EXPECT_EQ(fifo.used(), 5u);
    fifo.advance(1 * MS);
    EXPECT_EQ(fifo.used(), 4u);
    fifo.advance(3 * MS - 1);
    EXPECT_EQ(fifo.used(), 3u);
    fifo.advance(5 * MS);
    EXPECT_EQ(fifo.used(), 0u);
}

TEST(LineRatePlayout, StartsTheNextLineNoEarlierThanItArrived)
{
    ReplayFifo fifo(10, makeLineRatePlayout(1000.0));
    fifo.push(block(0));
    fifo.push(block(10 * MS)); // the player idles from 1 ms to 10 ms
    fifo.advance(10 * MS + MS - 1);
    EXPECT_EQ(fifo.used(), 1u);
    fifo.advance(11 * MS);
    EXPECT_EQ(fifo.used(), 0u);
}

TEST(LineRatePlayout, ResumesFromTheReleaseInsteadOfCatchingUpInABurst)
{
    ReplayFifo fifo(10, makeLineRatePlayout(1000.0));
    fifo.freeze();
    for (int i = 0; i < 3; ++i)
        fifo.push(block(0));
    fifo.release(100 * MS);
    EXPECT_EQ(fifo.used(), 3u);
    fifo.advance(101 * MS);
    EXPECT_EQ(fifo.used(), 2u);
}

TEST(LineRatePlayout, RefusesARateThatIsNotPositive)
{
    EXPECT_THROW(makeLineRatePlayout(0.0), std::invalid_argument);
    EXPECT_THROW(makeLineRatePlayout(-5.0), std::invalid_argument);
    EXPECT_THROW(makePlayoutModel({ PlayoutKind::LineRate, 0.0 }), std::invalid_argument);
}

TEST(TimestampPlayout, PlaysBlocksAtStartPlusTheirTimeSinceTheOffset)
{
    ReplayFifo fifo(10, makeTimestampPlayout());
    fifo.setTimes({ /*offset*/ 1000 * MS, /*start*/ 50 * MS, /*stop*/ 0 });
    fifo.push(block(0, 1000 * MS)); // due at 50 ms
    fifo.push(block(0, 1010 * MS)); // due at 60 ms
    fifo.advance(50 * MS - 1);
    EXPECT_EQ(fifo.used(), 2u);
    fifo.advance(50 * MS);
    EXPECT_EQ(fifo.used(), 1u);
    fifo.advance(60 * MS);
    EXPECT_EQ(fifo.used(), 0u);
    EXPECT_EQ(fifo.counters().played, 2u);
}

TEST(TimestampPlayout, WithoutTimesPlaysRelativeToTheFirstBlock)
{
    ReplayFifo fifo(10, makeTimestampPlayout());
    fifo.push(block(7 * MS, 500 * MS)); // first block: plays on arrival
    fifo.push(block(7 * MS, 520 * MS)); // 20 ms later
    EXPECT_EQ(fifo.used(), 1u);
    fifo.advance(27 * MS);
    EXPECT_EQ(fifo.used(), 0u);
}

TEST(TimestampPlayout, DropsBlocksDueAfterTheStopTimeWhenTheStopTimeComes)
{
    ReplayFifo fifo(10, makeTimestampPlayout());
    fifo.setTimes({ 0, 10 * MS, 20 * MS });
    fifo.push(block(0, 0));       // first block: offset = its timestamp, due 10 ms
    fifo.push(block(0, 5 * MS));  // due 15 ms
    fifo.push(block(0, 50 * MS)); // due 60 ms, after the stop
    fifo.advance(19 * MS);
    EXPECT_EQ(fifo.used(), 1u);
    fifo.advance(20 * MS);
    EXPECT_EQ(fifo.used(), 0u);
    EXPECT_EQ(fifo.counters().played, 2u);
    EXPECT_EQ(fifo.counters().skipped, 1u);
}

TEST(ReplayFifo, ClearingDropsEveryEntryAsSkipped)
{
    ReplayFifo fifo(10, makeImmediatePlayout());
    fifo.freeze();
    fifo.push(block(0));
    fifo.push(block(0));
    fifo.clear();
    EXPECT_EQ(fifo.used(), 0u);
    EXPECT_EQ(fifo.counters().skipped, 2u);
    EXPECT_TRUE(fifo.frozen());
}

TEST(ReplayFifo, RefusesZeroEntries)
{
    EXPECT_THROW(ReplayFifo(0, makeImmediatePlayout()), std::invalid_argument);
}

// Frames followed through playout ------------------------------------------------------

FifoEntry line(uint64_t arrivalNs, uint64_t serial)
{
    FifoEntry e = block(arrivalNs);
    e.frameSerial = serial;
    return e;
}

TEST(FramesThroughTheFifo, AFrameCountsAsPlayedOnceEveryLineWasPlayed)
{
    ReplayFifo fifo(8, makeLineRatePlayout(1000.0));
    for (int l = 0; l < 3; ++l)
        ASSERT_TRUE(fifo.push(line(0, 1)));
    fifo.sealFrame(1, 3);
    EXPECT_EQ(fifo.framesAwaitingPlayout(), 1u);
    fifo.advance(2 * MS);
    EXPECT_EQ(fifo.counters().framesPlayed, 0u) << "one line still waits";
    fifo.advance(3 * MS);
    EXPECT_EQ(fifo.counters().framesPlayed, 1u);
    EXPECT_EQ(fifo.framesAwaitingPlayout(), 0u);
}

TEST(FramesThroughTheFifo, AFrameWhoseLinesAreDroppedUnplayedIsNotPlayed)
{
    ReplayFifo fifo(8, makeImmediatePlayout());
    fifo.freeze();
    for (int l = 0; l < 2; ++l)
        ASSERT_TRUE(fifo.push(line(0, 7)));
    fifo.sealFrame(7, 2);
    fifo.clear(); // the channel is disabled with the FIFO still frozen
    EXPECT_EQ(fifo.counters().framesPlayed, 0u);
    EXPECT_EQ(fifo.counters().framesNotPlayed, 1u);
    EXPECT_EQ(fifo.counters().skipped, 2u);
}

TEST(FramesThroughTheFifo, AFrameWithALineNeverQueuedOrOverflowedIsNotPlayed)
{
    ReplayFifo fifo(1, makeImmediatePlayout());
    ASSERT_TRUE(fifo.push(line(0, 1)));
    fifo.sealFrame(1, 2); // its other line was never queued (channel disabled)
    fifo.freeze();
    ASSERT_TRUE(fifo.push(line(1, 2)));
    EXPECT_FALSE(fifo.push(line(1, 2)));
    fifo.release(2);
    fifo.sealFrame(2, 2);
    EXPECT_EQ(fifo.counters().framesPlayed, 0u);
    EXPECT_EQ(fifo.counters().framesNotPlayed, 2u);
}

TEST(FramesThroughTheFifo, AnIncompleteFrameIsForgottenOnceItsLinesLeft)
{
    ReplayFifo fifo(4, makeImmediatePlayout());
    fifo.freeze();
    ASSERT_TRUE(fifo.push(line(0, 3)));
    fifo.forgetFrame(3);
    fifo.release(1);
    EXPECT_EQ(fifo.counters().framesPlayed + fifo.counters().framesNotPlayed, 0u);
    EXPECT_EQ(fifo.framesAwaitingPlayout(), 0u);
}

// Play times against timestamps ----------------------------------------------------------

FifoEntry timedLine(uint64_t arrivalNs, uint64_t timestampNs, uint64_t serial)
{
    FifoEntry e = block(arrivalNs, timestampNs);
    e.frameSerial = serial;
    return e;
}

TEST(FramePlayTimes, ABlockThatArrivesAfterItsTimePlaysOnArrivalAndCountsAsLate)
{
    ReplayFifo fifo(8, makeTimestampPlayout());
    fifo.setTimes({ /*offset*/ 1000 * MS, /*start*/ 100 * MS, /*stop*/ 0 });
    // Frame 1 (due 100 ms) is in before its time; frame 2 (due 140 ms) has
    // one line on time and its last line 3.5 ms late.
    ASSERT_TRUE(fifo.push(timedLine(90 * MS, 1000 * MS, 1)));
    fifo.sealFrame(1, 1);
    ASSERT_TRUE(fifo.push(timedLine(130 * MS, 1040 * MS, 2)));
    ASSERT_TRUE(fifo.push(timedLine(143 * MS + MS / 2, 1040 * MS, 2)));
    fifo.sealFrame(2, 2);
    fifo.advance(200 * MS);

    const FifoCounters& c = fifo.counters();
    EXPECT_EQ(c.framesPlayed, 2u);
    EXPECT_EQ(c.framesTimed, 2u);
    EXPECT_EQ(c.lateMaxNs, 3 * MS + MS / 2);
    EXPECT_EQ(c.lateSumNs, 3 * MS + MS / 2);
    EXPECT_EQ(c.framesLateOver1ms, 1u);
    EXPECT_EQ(c.firstFramePlayedNs, 100 * MS);
    EXPECT_EQ(c.lastFramePlayedNs, 143 * MS + MS / 2) << "a late block never plays before it arrived";
}

TEST(FramePlayTimes, ModelsWithoutTimestampsTimeNoFrames)
{
    ReplayFifo fifo(8, makeImmediatePlayout());
    ASSERT_TRUE(fifo.push(line(5 * MS, 1)));
    fifo.sealFrame(1, 1);
    EXPECT_EQ(fifo.counters().framesPlayed, 1u);
    EXPECT_EQ(fifo.counters().framesTimed, 0u);
    EXPECT_EQ(fifo.counters().firstFramePlayedNs, 5 * MS);
}

} // namespace
} // namespace vxqir::sim
