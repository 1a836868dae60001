// Grabber byte streams of MIPI CSI-2 packets through the unit client: one
// unit packet per packet record, preamble and padding as configured, short
// packets passed over, and a walk that never reads past the stream.
#include "Csi2Stream.h"
#include "UnitClientFixture.h"

#include <gmock/gmock.h>

#include <algorithm>
#include <ostream>

using namespace unit_client_test;

namespace {

/// The unit packets of `stream`: each long record's packet (with preamble
/// and padding unless `skipPreamble`), short records left out.
ExpectedFrame UnitPackets(const std::vector<uint8_t>& stream, const std::vector<Csi2Record>& records, uint8_t bpp,
                          bool skipPreamble)
{
    ExpectedFrame frame;
    size_t at = MIPICSI2::FIRST_RECORD_OFFSET;
    const auto firstLong = std::find_if(records.begin(), records.end(),
                                        [](const Csi2Record& r) { return !MIPICSI2::isShortPacket(r.dataIdentifier); });
    const auto packet = static_cast<uint16_t>(MIPICSI2::longPacketLength(firstLong->wordCount));
    for (const Csi2Record& r : records) {
        if (MIPICSI2::isShortPacket(r.dataIdentifier)) {
            at += MIPICSI2::SHORT_PACKET_RECORD_SIZE;
            continue;
        }
        const size_t record = MIPICSI2::longPacketRecordSize(packet, bpp);
        if (skipPreamble)
            frame.Line(stream.data() + at + 4, packet);
        else
            frame.Line(stream.data() + at, record);
        at += record;
    }
    return frame;
}

struct StreamCase {
    const char* name;
    uint8_t bpp;
    uint16_t wordCount;
    bool skipPreamble;
    uint32_t packetBytes;
};

void PrintTo(const StreamCase& c, std::ostream* os)
{
    *os << c.name;
}

class GrabberStreams : public UnitClientFixture, public ::testing::WithParamInterface<StreamCase> { };

std::string Flag(bool value)
{
    return value ? "true" : "false";
}

} // namespace

TEST_P(GrabberStreams, SendOnePacketPerRecordWithTheConfiguredPreambleAndPadding)
{
    StartUnit();
    const StreamCase& c = GetParam();
    const std::vector<Csi2Record> records(6, Csi2Record{ 0x2C, c.wordCount });
    Script& script = TheScript();
    script.kind = SampleKind::Stream;
    for (uint8_t n = 0; n < 2; ++n) {
        ScriptedSample sample;
        sample.bytes = GrabberStream(records, c.bpp, n);
        script.samples.push_back(sample);
    }
    EXPECT_EQ(Run(Graph("Stream", "SkipCsi2Preamble = " + Flag(c.skipPreamble))).failed, 0);

    const auto frames = Frames();
    ASSERT_EQ(frames.size(), 2u);
    for (uint16_t n = 0; n < 2; ++n) {
        const ExpectedFrame expected = UnitPackets(script.samples[n].bytes, records, c.bpp, c.skipPreamble);
        EXPECT_EQ(frames[n].frameNumber, n);
        EXPECT_EQ(frames[n].lineLengths, std::vector<uint32_t>(6, c.packetBytes));
        EXPECT_TRUE(frames[n].bytes == expected.bytes);
        if (!c.skipPreamble) {
            EXPECT_THAT(std::vector<uint8_t>(frames[n].bytes.begin(), frames[n].bytes.begin() + 4),
                        ::testing::Each(0xB8));
        }
    }
    const auto channel = Channel();
    EXPECT_EQ(channel.frameWidth, c.wordCount + 6u);
    EXPECT_EQ(channel.frameHeight, 6u);
    EXPECT_TRUE(Reported("[Core] Replaying frames with 6 MIPI CSI2 packets."));
    EXPECT_TRUE(Reported("[Core] Each packet has " + std::to_string(c.wordCount + 6) + " Bytes."));
}

INSTANTIATE_TEST_SUITE_P(Geometries, GrabberStreams,
                         ::testing::Values(StreamCase{ "Bpp16PacketAloneWithoutPreamble", 16, 3840, true, 3846 },
                                           StreamCase{ "Bpp16WithPreambleNoPaddingNeeded", 16, 3840, false, 3850 },
                                           StreamCase{ "Bpp12OnePaddingByte", 12, 3841, false, 3852 },
                                           StreamCase{ "Bpp64SixPaddingBytes", 64, 3840, false, 3856 },
                                           StreamCase{ "Bpp64PaddingNotSentWithoutPreamble", 64, 3840, true, 3846 }),
                         [](const auto& c) { return std::string(c.param.name); });

class GrabberStreamEdges : public UnitClientFixture {
protected:
    /// Frame start, `longs` RAW12 packets, frame end.
    static std::vector<Csi2Record> FramedRecords(int longs)
    {
        std::vector<Csi2Record> records{ { 0x00, 1 } };
        for (int i = 0; i < longs; ++i)
            records.push_back({ 0x2C, 30 });
        records.push_back({ 0x01, 1 });
        return records;
    }
};

TEST_F(GrabberStreamEdges, SkippedShortPacketsLeaveConsecutiveLinesAndTheLastLongPacketEndsTheFrame)
{
    StartUnit();
    const auto records = FramedRecords(4);
    Script& script = TheScript();
    script.kind = SampleKind::Stream;
    for (uint8_t n = 0; n < 3; ++n) {
        ScriptedSample sample;
        sample.bytes = GrabberStream(records, 16, n);
        script.samples.push_back(sample);
    }
    EXPECT_EQ(Run(Graph("Stream", "SkipCsi2ShortPackages = true")).failed, 0);

    const auto frames = Frames();
    ASSERT_EQ(frames.size(), 3u) << "every frame completes at its last long packet";
    for (uint16_t n = 0; n < 3; ++n) {
        const ExpectedFrame expected = UnitPackets(script.samples[n].bytes, records, 16, true);
        EXPECT_EQ(frames[n].height, 4u);
        EXPECT_EQ(frames[n].lineLengths, std::vector<uint32_t>(4, 36));
        EXPECT_TRUE(frames[n].bytes == expected.bytes);
    }
    EXPECT_EQ(Channel().frames.framesIncomplete, 0u);
    EXPECT_TRUE(Reported("[Core] Replaying frames with 4 MIPI CSI2 packets."));
}

TEST_F(GrabberStreamEdges, ShortPacketsSentAsLongAreAdvisedAgainstOncePerRun)
{
    StartUnit();
    // Short records in the middle of long ones, so every walk stays inside the stream.
    std::vector<Csi2Record> records(3, Csi2Record{ 0x2C, 30 });
    records.push_back({ 0x01, 1 });
    Script& script = TheScript();
    script.kind = SampleKind::Stream;
    for (uint8_t n = 0; n < 3; ++n) {
        ScriptedSample sample;
        sample.bytes = GrabberStream(records, 8, n);
        sample.bytes.resize(sample.bytes.size() + 64, 0); // room for the short record read as long
        script.samples.push_back(sample);
    }
    EXPECT_EQ(Run(Graph("Stream")).failed, 0);
    EXPECT_EQ(CountReports("set SkipCsi2ShortPackages to true"), 1u) << log.Text();
}

TEST_F(GrabberStreamEdges, AStreamCutInsideARecordIsSentUpToItsLastWholeRecordAndNotCounted)
{
    StartUnit();
    const std::vector<Csi2Record> records(4, Csi2Record{ 0x2C, 30 });
    Script& script = TheScript();
    script.kind = SampleKind::Stream;
    ScriptedSample whole;
    whole.bytes = GrabberStream(records, 16, 0);
    ScriptedSample cut;
    cut.bytes = GrabberStream(records, 16, 1, 10);
    script.samples = { whole, cut, whole };
    EXPECT_EQ(Run(Graph("Stream")).failed, 0);

    const size_t lastRecord = MIPICSI2::FIRST_RECORD_OFFSET + 3 * MIPICSI2::longPacketRecordSize(36, 16);
    EXPECT_TRUE(Reported("Frame 1: byte stream of " + std::to_string(cut.bytes.size()) +
                         " bytes ends inside packet record 3 at byte offset " + std::to_string(lastRecord)))
        << log.Text();
    EXPECT_TRUE(Reported("[Death]Sent 2 frames."));
    const auto frames = Frames();
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[1].frameNumber, 2) << "part of the cut frame went out under number 1";
}

struct RefusedStream {
    const char* name;
    std::vector<uint8_t> stream;
    const char* error;
};

void PrintTo(const RefusedStream& c, std::ostream* os)
{
    *os << c.name;
}

class RefusedStreams : public UnitClientFixture, public ::testing::WithParamInterface<RefusedStream> { };

TEST_P(RefusedStreams, FailTheComponentAtTheFirstSampleWithoutSending)
{
    StartUnit();
    Script& script = TheScript();
    script.kind = SampleKind::Stream;
    ScriptedSample sample;
    sample.bytes = GetParam().stream;
    script.samples.push_back(sample);
    EXPECT_EQ(Run(Graph("Stream")).failed, 1);
    EXPECT_TRUE(Reported(GetParam().error)) << log.Text();
    EXPECT_EQ(Channel().datagrams, 0u);
}

namespace {

std::vector<uint8_t> WithoutPreamble()
{
    auto stream = GrabberStream({ { 0x2C, 30 } }, 16, 0);
    stream[MIPICSI2::FIRST_RECORD_OFFSET + 1] = 0;
    return stream;
}

} // namespace

INSTANTIATE_TEST_SUITE_P(
    Cases, RefusedStreams,
    ::testing::Values(
        RefusedStream{ "BadPreamble", WithoutPreamble(), "Frame does not contain valid MIPI CSI2 data, aborting" },
        RefusedStream{ "BppZero", GrabberStream({ { 0x2C, 30 } }, 0, 0), "Grabber header field bpp is 0" },
        RefusedStream{ "ShorterThanTheFirstPacketHeader", std::vector<uint8_t>(70, 0xB8),
                       "byte stream of 70 bytes ends before its first packet header at byte offset 68" },
        RefusedStream{ "Empty", {}, "byte stream of 0 bytes ends before its first packet header" }),
    [](const auto& c) { return std::string(c.param.name); });

namespace {

/// One sample of a walk case: its records, and bytes cut from its end.
struct WalkSample {
    std::vector<Csi2Record> records;
    uint8_t bpp = 16;
    size_t cutBytes = 0;
    size_t brokenPreambleRecord = SIZE_MAX; ///< record whose preamble is damaged
};

/// A frame the unit must complete: its number and the first `lines` unit
/// packets of sample `sample`.
struct UnitCompletes {
    uint16_t frameNumber;
    size_t sample;
    size_t lines;
};

struct WalkCase {
    const char* name;
    std::vector<WalkSample> samples;
    const char* properties;
    int failed;
    std::vector<UnitCompletes> completes;
    const char* report;  ///< given exactly once
    uint64_t sentFrames; ///< Death's count
};

void PrintTo(const WalkCase& c, std::ostream* os)
{
    *os << c.name;
}

std::vector<uint8_t> StreamOf(const WalkSample& s, uint8_t seed)
{
    std::vector<uint8_t> stream = GrabberStream(s.records, s.bpp, seed, s.cutBytes);
    size_t at = MIPICSI2::FIRST_RECORD_OFFSET;
    for (size_t i = 0; i < s.records.size(); ++i) {
        if (i == s.brokenPreambleRecord)
            stream[at] = 0x00;
        const uint16_t packet = static_cast<uint16_t>(MIPICSI2::longPacketLength(s.records[i].wordCount));
        at += MIPICSI2::isShortPacket(s.records[i].dataIdentifier) ? MIPICSI2::SHORT_PACKET_RECORD_SIZE
                                                                   : MIPICSI2::longPacketRecordSize(packet, s.bpp);
    }
    return stream;
}

/// The unit packets of a stream whose records are each placed by their own
/// size: long packets only (short ones left out), the packet alone or with
/// preamble and padding.
ExpectedFrame LongPacketsOf(const std::vector<uint8_t>& stream, const WalkSample& s, bool skipPreamble)
{
    ExpectedFrame frame;
    size_t at = MIPICSI2::FIRST_RECORD_OFFSET;
    for (const Csi2Record& r : s.records) {
        if (MIPICSI2::isShortPacket(r.dataIdentifier)) {
            at += MIPICSI2::SHORT_PACKET_RECORD_SIZE;
            continue;
        }
        const auto packet = static_cast<uint16_t>(MIPICSI2::longPacketLength(r.wordCount));
        const size_t record = MIPICSI2::longPacketRecordSize(packet, s.bpp);
        if (skipPreamble)
            frame.Line(stream.data() + at + 4, packet);
        else
            frame.Line(stream.data() + at, record);
        at += record;
    }
    return frame;
}

std::vector<Csi2Record> Longs(int count, uint16_t wordCount)
{
    return std::vector<Csi2Record>(static_cast<size_t>(count), Csi2Record{ 0x2C, wordCount });
}

/// Frame start, `longs` long packets of 30 payload bytes, frame end.
std::vector<Csi2Record> Framed(int longs)
{
    std::vector<Csi2Record> records{ { 0x00, 7 } };
    const auto body = Longs(longs, 30);
    records.insert(records.end(), body.begin(), body.end());
    records.push_back({ 0x01, 7 });
    return records;
}

std::vector<Csi2Record> LengthChangesInside()
{
    auto records = Longs(4, 16);
    records[2].wordCount = 32;
    return records;
}

class GrabberStreamWalks : public UnitClientFixture, public ::testing::WithParamInterface<WalkCase> { };

} // namespace

TEST_P(GrabberStreamWalks, SendEveryFrameWholeOrWarnAndNeverGarbleItAtTheUnit)
{
    StartUnit();
    const WalkCase& c = GetParam();
    Script& script = TheScript();
    script.kind = SampleKind::Stream;
    for (size_t n = 0; n < c.samples.size(); ++n) {
        ScriptedSample sample;
        sample.bytes = StreamOf(c.samples[n], static_cast<uint8_t>(n));
        script.samples.push_back(sample);
    }
    EXPECT_EQ(Run(Graph("Stream", c.properties)).failed, c.failed);
    EXPECT_EQ(CountReports(c.report), 1u) << log.Text();

    const bool skipPreamble = std::string(c.properties).find("SkipCsi2Preamble = false") == std::string::npos;
    const auto frames = Frames();
    ASSERT_EQ(frames.size(), c.completes.size()) << "frames the unit completed";
    for (size_t i = 0; i < frames.size(); ++i) {
        const UnitCompletes& want = c.completes[i];
        ExpectedFrame expected = LongPacketsOf(script.samples[want.sample].bytes, c.samples[want.sample], skipPreamble);
        expected.lineLengths.resize(want.lines);
        size_t bytes = 0;
        for (uint32_t length : expected.lineLengths)
            bytes += length;
        expected.bytes.resize(bytes);
        EXPECT_EQ(frames[i].frameNumber, want.frameNumber) << "completed frame " << i;
        EXPECT_EQ(frames[i].lineLengths, expected.lineLengths) << "completed frame " << i;
        EXPECT_TRUE(frames[i].bytes == expected.bytes) << "completed frame " << i << " carries sample " << want.sample;
    }
    if (c.failed == 0)
        EXPECT_TRUE(Reported("[Death]Sent " + std::to_string(c.sentFrames) + " frames.")) << log.Text();
    else
        EXPECT_EQ(Channel().datagrams, 0u) << "nothing of a refused first sample reaches the unit";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, GrabberStreamWalks,
    ::testing::Values(
        WalkCase{ "PacketLengthChangesBetweenFrames",
                  { { Longs(4, 16) }, { Longs(4, 32) }, { Longs(4, 16) } },
                  "",
                  0,
                  { { 0, 0, 4 }, { 1, 2, 4 } },
                  "Frame 1: packet record 0 at byte offset 64 holds a long packet of 38 bytes, not the 22 bytes "
                  "declared to the unit at the first sample; frame not sent.",
                  2 },
        WalkCase{ "PacketLengthChangesInsideAFrame",
                  { { Longs(4, 16) }, { LengthChangesInside() }, { Longs(4, 16) } },
                  "SkipCsi2Preamble = false",
                  0,
                  { { 0, 0, 4 }, { 1, 2, 4 } },
                  "Frame 1: packet record 2 at byte offset 116 holds a long packet of 38 bytes",
                  2 },
        WalkCase{ "RecordWithoutItsPreambleLater",
                  { { Longs(4, 16) }, { Longs(4, 16), 16, 0, 2 }, { Longs(4, 16) } },
                  "",
                  0,
                  { { 0, 0, 4 }, { 1, 2, 4 } },
                  "Frame 1: packet record 2 at byte offset 116 does not start with the 0xB8B8B8B8 preamble; frame "
                  "not sent.",
                  2 },
        WalkCase{ "FrameEndShortPacketReadAsLongRunsPastTheStream",
                  { { [] {
                      auto records = Longs(4, 16);
                      records.push_back({ 0x01, 7 });
                      return records;
                  }() } },
                  "",
                  1,
                  {},
                  "Frame 0: byte stream of 176 bytes ends inside packet record 4 at byte offset 168 (a short packet, "
                  "sent as a long packet of 22 bytes while SkipCsi2ShortPackages is false); set "
                  "SkipCsi2ShortPackages to true to leave short packets out; the first sample cannot go out whole, "
                  "aborting",
                  0 },
        WalkCase{ "FrameStartShortPacketFirstWithoutSkip",
                  { { Framed(4) } },
                  "",
                  1,
                  {},
                  "the first packet record is a short packet (data identifier 0x0), whose word count is no packet "
                  "length; set SkipCsi2ShortPackages to true",
                  0 },
        WalkCase{ "PreambleKeptRecordBeyond16Bits",
                  { { Longs(1, 65525) } },
                  "SkipCsi2Preamble = false",
                  1,
                  {},
                  "Packet records of 4 + 65531 + 1 = 65536 bytes (preamble, packet, padding) do not fit",
                  0 },
        WalkCase{ "PreambleDroppedSameLongPacketGoesOut",
                  { { Longs(1, 65525) } },
                  "",
                  0,
                  { { 0, 0, 1 } },
                  "Each packet has 65531 Bytes.",
                  1 },
        WalkCase{ "SkippedShortPacketsFewerLongPacketsLater",
                  { { Framed(4) }, { Framed(3) }, { Framed(4) } },
                  "SkipCsi2ShortPackages = true",
                  0,
                  { { 0, 0, 4 }, { 2, 2, 4 } },
                  "Frame 1: Packet number (3) does not match height (4)",
                  3 },
        WalkCase{ "SkippedShortPacketsMoreLongPacketsLater",
                  { { Framed(4) }, { Framed(5) }, { Framed(4) } },
                  "SkipCsi2ShortPackages = true",
                  0,
                  { { 0, 0, 4 }, { 1, 1, 4 }, { 2, 2, 4 } },
                  "Frame 1: Packet number (5) does not match height (4)",
                  3 },
        WalkCase{ "SkippedShortPacketsFirstSampleWithoutALongPacket",
                  { { { { 0x00, 7 }, { 0x01, 7 } } } },
                  "SkipCsi2ShortPackages = true",
                  1,
                  {},
                  "[Core] Frame 0: no long packet among the 2 of 2 packet records read",
                  0 }),
    [](const auto& c) { return std::string(c.param.name); });
