// Reassembly of lines into frames, packet continuity and the checksum.

#include "FrameAssembler.h"
#include "Fnv1a64.h"
#include "FrameDigest.h"
#include "PacketContinuity.h"
#include "RawUnitClient.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <numeric>
#include <string_view>
#include <vector>

namespace vxqir::sim {
namespace {

using testing::makeSensorDatagram;
using testing::patternFrameChecksum;
using testing::patternLine;

// Fnv1a64 ----------------------------------------------------------------------

uint64_t fnvOf(std::string_view text)
{
    Fnv1a64 h;
    h.update({ reinterpret_cast<const uint8_t*>(text.data()), text.size() });
    return h.value();
}

TEST(Fnv1a64, MatchesThePublishedTestVectors)
{
    EXPECT_EQ(fnvOf(""), 0xcbf29ce484222325ull);
    EXPECT_EQ(fnvOf("a"), 0xaf63dc4c8601ec8cull);
    EXPECT_EQ(fnvOf("foobar"), 0x85944171f73967e8ull);
}

TEST(Fnv1a64, GivesTheSameValueFedInPiecesAsFedWhole)
{
    Fnv1a64 pieces;
    pieces.update({ reinterpret_cast<const uint8_t*>("foo"), 3 });
    pieces.update({ reinterpret_cast<const uint8_t*>("bar"), 3 });
    EXPECT_EQ(pieces.value(), fnvOf("foobar"));
}

TEST(Fnv1a64, PrintsSixteenLowerCaseHexDigits)
{
    EXPECT_EQ(Fnv1a64::toHex(0x85944171f73967e8ull), "85944171f73967e8");
    EXPECT_EQ(Fnv1a64::toHex(0xAB), "00000000000000ab");
}

// FrameDigest ------------------------------------------------------------------

TEST(FrameDigest, IsXxh3WithSeedZero)
{
    EXPECT_EQ(FrameDigest().value(), 0x2d06800538d394c2ull); // of no bytes
    EXPECT_EQ(FrameDigest::of({ reinterpret_cast<const uint8_t*>("foobar"), 6 }), 0xd78fda63144c5c84ull);
}

TEST(FrameDigest, GivesTheSameValueFedInPiecesOfAnySizeAsFedWhole)
{
    // Pieces that cross the hash's 64-byte stripes and 256-byte buffer at
    // every offset, as the lines of a frame do.
    std::vector<uint8_t> bytes(5000);
    std::iota(bytes.begin(), bytes.end(), uint8_t{ 7 });
    for (size_t piece : { 1u, 3u, 63u, 64u, 65u, 255u, 256u, 257u, 1448u, 4999u }) {
        FrameDigest pieces;
        for (size_t at = 0; at < bytes.size(); at += piece)
            pieces.update(std::span<const uint8_t>(bytes).subspan(at, std::min(piece, bytes.size() - at)));
        EXPECT_EQ(pieces.value(), FrameDigest::of(bytes)) << "pieces of " << piece;
    }
}

TEST(FrameDigest, FeedsZerosAsTheZeroBytesWould)
{
    const std::vector<uint8_t> zeros(10000, 0);
    FrameDigest digest;
    digest.update(std::span<const uint8_t>(zeros).first(3));
    digest.updateZeros(zeros.size() - 3);
    EXPECT_EQ(digest.value(), FrameDigest::of(zeros));
}

// PacketContinuity ---------------------------------------------------------------

struct ContinuityCase {
    const char* name;
    std::vector<uint16_t> numbers;
    uint32_t missingAtLast;
    bool lateAtLast;
};

class Continuity : public ::testing::TestWithParam<ContinuityCase> { };

TEST_P(Continuity, JudgesTheLastNumberOfTheSequence)
{
    PacketContinuity c;
    ContinuityResult r;
    for (uint16_t n : GetParam().numbers)
        r = c.observe(n);
    EXPECT_EQ(r.missing, GetParam().missingAtLast);
    EXPECT_EQ(r.late, GetParam().lateAtLast);
}

INSTANTIATE_TEST_SUITE_P(Table, Continuity,
                         ::testing::Values(ContinuityCase{ "FirstNumberStartsAnywhere", { 4711 }, 0, false },
                                           ContinuityCase{ "NextNumber", { 5, 6 }, 0, false },
                                           ContinuityCase{ "WrapFrom65535To0", { 65534, 65535, 0 }, 0, false },
                                           ContinuityCase{ "GapOfThree", { 5, 9 }, 3, false },
                                           ContinuityCase{ "GapAcrossTheWrap", { 65535, 2 }, 2, false },
                                           ContinuityCase{ "RepeatedNumber", { 5, 6, 6 }, 0, true },
                                           ContinuityCase{ "OlderNumber", { 5, 6, 7, 3 }, 0, true },
                                           ContinuityCase{ "LateDoesNotMoveTheSequence", { 5, 6, 3, 7 }, 0, false }),
                         [](const auto& testCase) { return std::string(testCase.param.name); });

TEST(PacketContinuity, StartsAFreshSequenceAfterARestart)
{
    PacketContinuity c;
    c.observe(100);
    c.restart();
    EXPECT_EQ(c.observe(0).missing, 0u);
    EXPECT_EQ(c.observe(1).missing, 0u);
}

// FrameAssembler -------------------------------------------------------------------

constexpr size_t MAX_FRAME = 1 << 20;

/// A view of datagram bytes built by makeSensorDatagram (which are valid).
SensorDatagram view(const std::vector<uint8_t>& bytes)
{
    SensorDatagram d;
    std::memcpy(&d.header, bytes.data(), sizeof(d.header));
    d.payload = std::span(bytes).subspan(SENSOR_HEADER_SIZE);
    return d;
}

/// Feeds datagrams to an assembler and keeps what it completes.
class FrameAssembly : public ::testing::Test {
protected:
    void SetUp() override { assembler.setGeometry(8, 3); }

    void feed(uint16_t frame, uint16_t line, uint8_t flags, const std::vector<uint8_t>& payload, bool afterGap = false)
    {
        datagrams.push_back(makeSensorDatagram(frame, line, 0, flags, payload));
        assembler.add(view(datagrams.back()), afterGap, completed);
    }
    void feedLine(uint16_t frame, uint16_t line, uint16_t height = 3)
    {
        const uint8_t flags = SENSOR_FLAG_END_OF_LINE | (line == height - 1 ? SENSOR_FLAG_END_OF_FRAME : 0);
        feed(frame, line, flags, patternLine(frame, line, 8));
    }
    uint64_t incomplete(IncompleteReason r) const
    {
        return assembler.counters().incompleteByReason[static_cast<size_t>(r)];
    }

    FrameAssembler assembler{ 3, MAX_FRAME };
    std::vector<CompletedFrame> completed;
    std::vector<std::vector<uint8_t>> datagrams;
};

TEST_F(FrameAssembly, CompletesAFrameWhoseLinesAllEndedAndWhoseLastLineEndsTheFrame)
{
    for (uint16_t l = 0; l < 3; ++l)
        feedLine(5, l);
    ASSERT_EQ(completed.size(), 1u);
    const CompletedFrame& f = completed[0];
    EXPECT_EQ(f.channel, 3);
    EXPECT_EQ(f.frameNumber, 5);
    EXPECT_EQ(f.sequence, 1u);
    EXPECT_EQ(f.height, 3);
    EXPECT_EQ(f.lineLengths, (std::vector<uint32_t>{ 8, 8, 8 }));
    Fnv1a64 h;
    h.update(f.bytes);
    EXPECT_EQ(h.value(), patternFrameChecksum(5, 3, 8));
    EXPECT_EQ(assembler.counters().framesComplete, 1u);
    EXPECT_EQ(assembler.counters().framesIncomplete, 0u);
}

TEST_F(FrameAssembly, JoinsTheDatagramsOfALineInArrivalOrder)
{
    const auto line0 = patternLine(1, 0, 8);
    feed(1, 0, 0, { line0.begin(), line0.begin() + 3 });
    feed(1, 0, SENSOR_FLAG_END_OF_LINE, { line0.begin() + 3, line0.end() });
    feedLine(1, 1);
    feedLine(1, 2);
    ASSERT_EQ(completed.size(), 1u);
    Fnv1a64 h;
    h.update(completed[0].bytes);
    EXPECT_EQ(h.value(), patternFrameChecksum(1, 3, 8));
}

TEST_F(FrameAssembly, PutsLinesThatArriveOutOfOrderBackInLineOrder)
{
    feedLine(2, 1);
    feedLine(2, 0);
    feedLine(2, 2);
    ASSERT_EQ(completed.size(), 1u);
    Fnv1a64 h;
    h.update(completed[0].bytes);
    EXPECT_EQ(h.value(), patternFrameChecksum(2, 3, 8));
}

TEST_F(FrameAssembly, CountsAFrameIncompleteWhenTheNextFrameNumberStartsFirst)
{
    feedLine(1, 0);
    feedLine(1, 1);
    for (uint16_t l = 0; l < 3; ++l)
        feedLine(2, l);
    EXPECT_EQ(assembler.counters().framesIncomplete, 1u);
    EXPECT_EQ(incomplete(IncompleteReason::Interrupted), 1u);
    ASSERT_EQ(completed.size(), 1u);
    EXPECT_EQ(completed[0].frameNumber, 2);
}

TEST_F(FrameAssembly, CountsConsecutiveFramesUnderTheSameNumberSeparately)
{
    for (int repeat = 0; repeat < 3; ++repeat) {
        for (uint16_t l = 0; l < 3; ++l)
            feedLine(0, l);
    }
    EXPECT_EQ(completed.size(), 3u);
    EXPECT_EQ(assembler.counters().framesIncomplete, 0u);
}

TEST_F(FrameAssembly, ANewFrameUnderTheSameNumberEndsAnUnfinishedOne)
{
    feedLine(0, 0);
    feedLine(0, 1); // the frame's last line never comes
    for (uint16_t l = 0; l < 3; ++l)
        feedLine(0, l);
    EXPECT_EQ(completed.size(), 1u);
    EXPECT_EQ(incomplete(IncompleteReason::Interrupted), 1u);
}

TEST_F(FrameAssembly, EndsAFrameIncompleteWhenItsEndComesWithLinesMissing)
{
    feedLine(1, 0);
    feedLine(1, 2);
    EXPECT_TRUE(completed.empty());
    EXPECT_EQ(incomplete(IncompleteReason::MissingLines), 1u);
    EXPECT_FALSE(assembler.frameOpen());
}

TEST_F(FrameAssembly, EndsAFrameIncompleteWhenDatagramsOfItWereLost)
{
    feedLine(1, 0);
    feedLine(1, 1);
    feed(1, 2, SENSOR_FLAG_END_OF_LINE | SENSOR_FLAG_END_OF_FRAME, patternLine(1, 2, 8), /*afterGap=*/true);
    EXPECT_TRUE(completed.empty());
    EXPECT_EQ(incomplete(IncompleteReason::PacketLoss), 1u);
}

TEST_F(FrameAssembly, RefusesAnEndOfFrameMarkOnAnotherLineThanTheLast)
{
    feedLine(1, 0);
    feed(1, 1, SENSOR_FLAG_END_OF_LINE | SENSOR_FLAG_END_OF_FRAME, patternLine(1, 1, 8));
    EXPECT_TRUE(completed.empty());
    EXPECT_EQ(assembler.counters().lineErrors, 1u);
    EXPECT_EQ(incomplete(IncompleteReason::LineError), 1u);
}

TEST_F(FrameAssembly, RefusesAnEndOfFrameMarkWithoutEndOfLine)
{
    feedLine(1, 0);
    feedLine(1, 1);
    feed(1, 2, SENSOR_FLAG_END_OF_FRAME, patternLine(1, 2, 8));
    EXPECT_TRUE(completed.empty());
    EXPECT_EQ(incomplete(IncompleteReason::LineError), 1u);
}

TEST_F(FrameAssembly, CountsALineOutsideTheFrameAsAnError)
{
    feedLine(1, 0);
    feedLine(1, 1);
    feed(1, 7, SENSOR_FLAG_END_OF_LINE, patternLine(1, 7, 8));
    feedLine(1, 2);
    EXPECT_TRUE(completed.empty());
    EXPECT_EQ(assembler.counters().lineErrors, 1u);
    EXPECT_EQ(incomplete(IncompleteReason::LineError), 1u);
}

// A spent buffer from the pool holds another frame's bytes and more room
// than the frame needs: a frame begun in it must hold its own bytes only,
// whether its lines arrive in order (the buffer becomes the frame's) or not
// (the lines are copied out in order).
TEST_F(FrameAssembly, FramesBegunInSpentBuffersHoldTheirOwnBytesOnly)
{
    for (const bool inOrder : { true, false }) {
        SCOPED_TRACE(inOrder ? "lines in order" : "lines out of order");
        auto pool = std::make_shared<FrameBufferPool>(2);
        pool->give(std::vector<uint8_t>(100, 0xEE));
        pool->give(std::vector<uint8_t>(100, 0xDD));
        FrameAssembler recycling(0, MAX_FRAME, pool);
        recycling.setGeometry(8, 3);
        std::vector<CompletedFrame> out;
        for (uint16_t frame = 7; frame < 10; ++frame) {
            for (const uint16_t line : inOrder ? std::vector<uint16_t>{ 0, 1, 2 } : std::vector<uint16_t>{ 1, 0, 2 }) {
                datagrams.push_back(makeSensorDatagram(
                    frame, line, 0, SENSOR_FLAG_END_OF_LINE | (line == 2 ? SENSOR_FLAG_END_OF_FRAME : 0),
                    patternLine(frame, line, 8)));
                recycling.add(view(datagrams.back()), false, out);
            }
        }
        ASSERT_EQ(out.size(), 3u);
        for (const CompletedFrame& f : out) {
            EXPECT_EQ(f.bytes.size(), 24u) << "frame " << f.frameNumber;
            Fnv1a64 h;
            h.update(f.bytes);
            EXPECT_EQ(h.value(), patternFrameChecksum(f.frameNumber, 3, 8)) << "frame " << f.frameNumber;
        }
        // Both spent buffers were taken (in order the frames carry them off;
        // out of order one is the assembler's own and one a frame's).
        EXPECT_EQ(pool->kept(), 0u);
        EXPECT_GE(out[0].bytes.capacity(), 100u);
    }
}

// The digest a frame brings is taken while its bytes arrive; it must be the
// digest of the frame's bytes, not of whatever else the assembler saw (an
// earlier frame, an interrupted one, the previous contents of a spent
// buffer). Lines out of order bring none: the checksum thread takes it.
TEST(FrameAssemblerDigest, BringsTheDigestOfItsOwnBytesWhenEveryPieceCameInLineOrder)
{
    struct Piece {
        uint16_t frame;
        uint16_t line;
        uint8_t from, to; // bytes of the 8-byte line
    };
    struct Case {
        const char* name;
        std::vector<Piece> pieces; // the last frame is the one judged
        bool digestOnArrival;
    };
    const std::vector<Case> cases = {
        { "whole lines in order", { { 4, 0, 0, 8 }, { 4, 1, 0, 8 }, { 4, 2, 0, 8 } }, true },
        { "lines cut into pieces",
          { { 4, 0, 0, 3 }, { 4, 0, 3, 8 }, { 4, 1, 0, 1 }, { 4, 1, 1, 8 }, { 4, 2, 0, 8 } },
          true },
        { "after a complete frame",
          { { 3, 0, 0, 8 }, { 3, 1, 0, 8 }, { 3, 2, 0, 8 }, { 4, 0, 0, 8 }, { 4, 1, 0, 8 }, { 4, 2, 0, 8 } },
          true },
        { "after an interrupted frame",
          { { 3, 0, 0, 8 }, { 3, 1, 0, 5 }, { 4, 0, 0, 8 }, { 4, 1, 0, 8 }, { 4, 2, 0, 8 } },
          true },
        { "lines out of order", { { 4, 1, 0, 8 }, { 4, 0, 0, 8 }, { 4, 2, 0, 8 } }, false },
        { "a line resumed after the next began",
          { { 4, 0, 0, 8 }, { 4, 1, 0, 4 }, { 4, 2, 0, 4 }, { 4, 1, 4, 8 }, { 4, 2, 4, 8 } },
          false },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto pool = std::make_shared<FrameBufferPool>(1);
        pool->give(std::vector<uint8_t>(64, 0xEE));
        FrameAssembler assembler(0, MAX_FRAME, pool);
        assembler.setGeometry(8, 3);
        std::vector<CompletedFrame> out;
        std::vector<std::vector<uint8_t>> kept;
        for (const Piece& p : c.pieces) {
            const auto line = patternLine(p.frame, p.line, 8);
            // A line ends with its last byte; the frame with its last line.
            const uint8_t flags =
                (p.to == 8 ? SENSOR_FLAG_END_OF_LINE : 0) | (p.to == 8 && p.line == 2 ? SENSOR_FLAG_END_OF_FRAME : 0);
            kept.push_back(
                makeSensorDatagram(p.frame, p.line, 0, flags, { line.begin() + p.from, line.begin() + p.to }));
            assembler.add(view(kept.back()), false, out);
        }
        ASSERT_FALSE(out.empty());
        const CompletedFrame& judged = out.back();
        ASSERT_EQ(judged.frameNumber, 4);
        Fnv1a64 h;
        h.update(judged.bytes);
        ASSERT_EQ(h.value(), patternFrameChecksum(4, 3, 8));
        ASSERT_EQ(judged.digest.has_value(), c.digestOnArrival);
        if (judged.digest) {
            EXPECT_EQ(*judged.digest, FrameDigest::of(judged.bytes));
        }
    }
}

TEST(FrameBufferPool, KeepsAtMostItsCapacityAndNoBufferWithoutMemory)
{
    FrameBufferPool pool(2);
    EXPECT_EQ(pool.take().capacity(), 0u) << "an empty pool hands out an empty vector";
    pool.give({});
    EXPECT_EQ(pool.kept(), 0u);
    for (int i = 0; i < 3; ++i)
        pool.give(std::vector<uint8_t>(16, 1));
    EXPECT_EQ(pool.kept(), 2u);
    const std::vector<uint8_t> taken = pool.take();
    EXPECT_TRUE(taken.empty()) << "handed out emptied";
    EXPECT_GE(taken.capacity(), 16u) << "with its memory";
    EXPECT_EQ(pool.kept(), 1u);
}

TEST_F(FrameAssembly, CompletesNoFrameBeforeTheFrameSizeIsSet)
{
    FrameAssembler fresh(0, MAX_FRAME);
    std::vector<CompletedFrame> out;
    const auto bytes =
        makeSensorDatagram(0, 0, 0, SENSOR_FLAG_END_OF_LINE | SENSOR_FLAG_END_OF_FRAME, patternLine(0, 0, 8));
    fresh.add(view(bytes), false, out);
    EXPECT_TRUE(out.empty());
    EXPECT_EQ(fresh.counters().incompleteByReason[static_cast<size_t>(IncompleteReason::NoFrameSize)], 1u);
}

TEST_F(FrameAssembly, EndsAFrameLargerThanTheLimitWithoutKeepingItsBytes)
{
    FrameAssembler small(0, 20);
    small.setGeometry(8, 3);
    std::vector<CompletedFrame> out;
    for (uint16_t l = 0; l < 3; ++l) {
        const uint8_t flags = SENSOR_FLAG_END_OF_LINE | (l == 2 ? SENSOR_FLAG_END_OF_FRAME : 0);
        const auto bytes = makeSensorDatagram(0, l, 0, flags, patternLine(0, l, 8));
        small.add(view(bytes), false, out);
    }
    EXPECT_TRUE(out.empty());
    EXPECT_EQ(small.counters().incompleteByReason[static_cast<size_t>(IncompleteReason::Oversized)], 1u);
}

TEST_F(FrameAssembly, DatagramsWithoutPayloadAddNothingToTheFrame)
{
    feedLine(1, 0);
    const size_t held = assembler.heldBytes();
    const auto empty = makeSensorDatagram(1, 1, 0, 0, {});
    for (int i = 0; i < 200000; ++i)
        assembler.add(view(empty), false, completed);
    EXPECT_EQ(assembler.heldBytes(), held);
    feedLine(1, 1);
    feedLine(1, 2);
    ASSERT_EQ(completed.size(), 1u);
    EXPECT_EQ(completed[0].bytes.size(), 24u);
}

TEST_F(FrameAssembly, AFloodOfTinyPiecesIsBoundedByTheFrameLimit)
{
    // One-byte datagrams on alternating lines cannot be merged into longer
    // pieces: their bookkeeping counts against the limit as their bytes do.
    constexpr size_t LIMIT = 4096;
    FrameAssembler small(0, LIMIT);
    small.setGeometry(8, 3);
    std::vector<CompletedFrame> out;
    const std::vector<uint8_t> oneByte{ 1 };
    const auto onLine0 = makeSensorDatagram(0, 0, 0, 0, oneByte);
    const auto onLine1 = makeSensorDatagram(0, 1, 0, 0, oneByte);
    size_t largest = 0;
    for (int i = 0; i < 100000; ++i) {
        small.add(view(i % 2 == 0 ? onLine0 : onLine1), false, out);
        largest = std::max(largest, small.heldBytes());
    }
    EXPECT_LE(largest, 2 * LIMIT);
    const auto lastLine = makeSensorDatagram(0, 2, 0, SENSOR_FLAG_END_OF_LINE | SENSOR_FLAG_END_OF_FRAME, oneByte);
    small.add(view(lastLine), false, out);
    EXPECT_TRUE(out.empty());
    EXPECT_EQ(small.counters().incompleteByReason[static_cast<size_t>(IncompleteReason::Oversized)], 1u);
}

TEST_F(FrameAssembly, EveryFrameBegunEndsInOneCountAndIsHandedOutOnce)
{
    feedLine(1, 0);
    feedLine(1, 1);
    feedLine(1, 2); // complete
    feedLine(2, 0);
    feedLine(3, 0);      // frame 2 interrupted
    assembler.abandon(); // frame 3 abandoned
    const AssemblyCounters& c = assembler.counters();
    EXPECT_EQ(c.framesStarted, 3u);
    EXPECT_EQ(c.framesComplete + c.framesIncomplete, 3u);
    const auto ended = assembler.takeEndedFrames();
    ASSERT_EQ(ended.size(), 3u);
    EXPECT_TRUE(ended[0].complete);
    EXPECT_EQ(ended[0].lines, 3);
    EXPECT_EQ(ended[1].serial, 2u);
    EXPECT_FALSE(ended[1].complete);
    EXPECT_FALSE(ended[2].complete);
    EXPECT_TRUE(assembler.takeEndedFrames().empty());
}

TEST_F(FrameAssembly, ABlockThatFindsNoRoomInTheFifoMakesItsFrameIncomplete)
{
    int queued = 0;
    const FrameAssembler::BlockQueue fullAtTheSecondLine = [&](uint64_t serial, const SensorDatagram&) {
        EXPECT_EQ(serial, 1u);
        return ++queued != 2;
    };
    for (uint16_t line = 0; line < 3; ++line) {
        datagrams.push_back(makeSensorDatagram(
            1, line, 0, SENSOR_FLAG_END_OF_LINE | (line == 2 ? SENSOR_FLAG_END_OF_FRAME : 0), patternLine(1, line, 8)));
        assembler.add(view(datagrams.back()), false, completed, fullAtTheSecondLine);
    }
    EXPECT_EQ(queued, 3);
    EXPECT_TRUE(completed.empty());
    EXPECT_EQ(incomplete(IncompleteReason::FifoOverflow), 1u);
}

TEST_F(FrameAssembly, AbandoningCountsAnOpenFrameIncompleteAndNothingElse)
{
    assembler.abandon();
    EXPECT_EQ(assembler.counters().framesIncomplete, 0u);
    feedLine(1, 0);
    assembler.abandon();
    EXPECT_EQ(assembler.counters().framesIncomplete, 1u);
}

TEST_F(FrameAssembly, UsesTheHeightInForceWhenTheFrameBegan)
{
    feedLine(1, 0);
    assembler.setGeometry(8, 2); // takes effect with the next frame
    feedLine(1, 1);
    feedLine(1, 2);
    ASSERT_EQ(completed.size(), 1u);
    feedLine(2, 0, 2);
    feedLine(2, 1, 2);
    ASSERT_EQ(completed.size(), 2u);
    EXPECT_EQ(completed[1].height, 2);
}

} // namespace
} // namespace vxqir::sim
