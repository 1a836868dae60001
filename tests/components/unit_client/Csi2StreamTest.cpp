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
    EXPECT_EQ(frames[1].frameNumber, 1) << "the cut frame's number goes to the next frame";
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
