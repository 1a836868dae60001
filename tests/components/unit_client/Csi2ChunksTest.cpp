// KOVAMipiCsi2Frame chunk containers through the unit client: the bus
// payload of every data chunk of the types found in the first frame becomes
// one unit packet; the walk never leaves the container.
#include "UnitClientFixture.h"

#include "unit_client/csi2/MipiCsi2Chunks.h"

#include <gmock/gmock.h>

#include <ostream>

using namespace unit_client_test;
using MIPICSI2::SubType;
using MIPICSI2::Type;

namespace {

/// Builds a chunk container chunk by chunk.
class Container {
public:
    /// A chunk of `length` bytes (header included) whose bytes after the
    /// header carry `seed`.
    Container& Chunk(Type type, SubType subType, uint16_t length, uint8_t seed = 0)
    {
        const size_t start = bytes.size();
        bytes.resize(start + std::max<size_t>(length, 4));
        MIPICSI2::write_uint16_t_be(bytes.data() + start, length);
        bytes[start + 2] = static_cast<uint8_t>(type);
        bytes[start + 3] = static_cast<uint8_t>(subType);
        for (size_t i = 4; i < length; ++i)
            bytes[start + i] = static_cast<uint8_t>(start + i * 3 + seed);
        return *this;
    }
    /// A bus-data chunk with `payload` bus payload bytes.
    Container& Data(SubType subType, uint16_t payload, uint8_t seed = 0, Type type = Type::UncompressedRAWDenslyPacked)
    {
        payloads.push_back(bytes.size() + MIPICSI2::BUS_PAYLOAD_OFFSET);
        payloadLengths.push_back(payload);
        return Chunk(type, subType, static_cast<uint16_t>(payload + MIPICSI2::BUS_DATA_OVERHEAD), seed);
    }
    /// Frame start, `lines` RAW12 data chunks, frame end and meta data.
    static Container Frame(int lines, uint16_t payload, uint8_t seed)
    {
        Container c;
        c.Chunk(Type::UncompressedRAWDenslyPacked, SubType::FrameStart, 16, seed);
        for (int i = 0; i < lines; ++i)
            c.Data(SubType::RAW12, payload, static_cast<uint8_t>(seed + i));
        c.Chunk(Type::UncompressedRAWDenslyPacked, SubType::FrameEnd, 16, seed);
        c.Chunk(Type::MetaData, SubType::FrameStart, static_cast<uint16_t>(4 + MIPICSI2::META_DATA_SIZE), seed);
        return c;
    }
    ExpectedFrame Expected() const
    {
        ExpectedFrame frame;
        for (size_t i = 0; i < payloads.size(); ++i)
            frame.Line(bytes.data() + payloads[i], payloadLengths[i]);
        return frame;
    }

    std::vector<uint8_t> bytes;
    std::vector<size_t> payloads;
    std::vector<size_t> payloadLengths;
};

ScriptedSample SampleOf(const Container& c)
{
    ScriptedSample sample;
    sample.bytes = c.bytes;
    return sample;
}

class ChunkFrames : public UnitClientFixture {
protected:
    void SetUp() override
    {
        UnitClientFixture::SetUp();
        StartUnit();
        TheScript().kind = SampleKind::Csi2Frame;
    }
};

} // namespace

TEST_F(ChunkFrames, EveryDataChunkBecomesOneLineWithItsBusPayload)
{
    std::vector<Container> containers;
    for (uint8_t n = 0; n < 3; ++n) {
        containers.push_back(Container::Frame(20, 300, n));
        TheScript().samples.push_back(SampleOf(containers.back()));
    }
    EXPECT_EQ(Run(Graph("Csi2Frame")).failed, 0);

    const auto frames = Frames();
    ASSERT_EQ(frames.size(), 3u);
    for (uint16_t n = 0; n < 3; ++n) {
        const ExpectedFrame expected = containers[n].Expected();
        EXPECT_EQ(frames[n].frameNumber, n);
        EXPECT_EQ(frames[n].lineLengths, expected.lineLengths);
        EXPECT_TRUE(frames[n].bytes == expected.bytes);
    }
    EXPECT_EQ(Channel().frameWidth, 300u);
    EXPECT_EQ(Channel().frameHeight, 20u);
    EXPECT_TRUE(Reported("[Core] Will send the following data packets: \nData Type 0x0 "
                         "(Type::UncompressedRAWDenslyPacked)\nCSI2 Type 0x2c (SubType::RAW12).\n"
                         "Total packets per frame: 20"))
        << log.Text();
    EXPECT_TRUE(Reported("[Death]Sent 3 frames."));
}

TEST_F(ChunkFrames, TheLongestPayloadOfTheFirstFrameIsTheDeclaredLineLength)
{
    Container c;
    c.Data(SubType::EmbeddedData, 40).Data(SubType::RAW10, 1000).Data(SubType::RAW10, 999);
    TheScript().samples.push_back(SampleOf(c));
    EXPECT_EQ(Run(Graph("Csi2Frame")).failed, 0);
    EXPECT_EQ(Channel().frameWidth, 1000u);
    EXPECT_EQ(Channel().frameHeight, 3u);
    ASSERT_EQ(Frames().size(), 1u);
    EXPECT_TRUE(Frames()[0].bytes == c.Expected().bytes);
}

TEST_F(ChunkFrames, AFrameWithFewerDataChunksIsSentWholeAndReported)
{
    const Container first = Container::Frame(10, 64, 0);
    const Container shorter = Container::Frame(9, 64, 1);
    TheScript().samples = { SampleOf(first), SampleOf(shorter) };
    EXPECT_EQ(Run(Graph("Csi2Frame")).failed, 0);
    EXPECT_TRUE(Reported("Frame 1: Packet number (9) does not match height (10)"));
    EXPECT_TRUE(Reported("[Death]Sent 2 frames."));
    EXPECT_EQ(Channel().datagrams, 19u);
}

TEST_F(ChunkFrames, AnEmbeddedDataSubtypeFirstSeenLaterIsSkipped)
{
    const Container first = Container::Frame(5, 64, 0);
    Container later = Container::Frame(5, 64, 1);
    Container withEmbedded;
    withEmbedded.Data(SubType::EmbeddedData, 32, 9);
    withEmbedded.bytes.insert(withEmbedded.bytes.end(), later.bytes.begin(), later.bytes.end());
    TheScript().samples = { SampleOf(first), SampleOf(withEmbedded) };
    EXPECT_EQ(Run(Graph("Csi2Frame")).failed, 0);

    const auto frames = Frames();
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[1].lineLengths, std::vector<uint32_t>(5, 64));
    EXPECT_FALSE(Reported("Packet number"));
}

TEST_F(ChunkFrames, AnEmptyFirstContainerDeclaresNoPackets)
{
    TheScript().samples = { ScriptedSample{} };
    EXPECT_EQ(Run(Graph("Csi2Frame")).failed, 0);
    EXPECT_TRUE(Reported("[Core] Will send the following data packets: .\nTotal packets per frame: 0")) << log.Text();
    EXPECT_EQ(Channel().frameHeight, 0u);
}

TEST_F(ChunkFrames, ACustomStructureOfAnotherNameIsRefusedBeforeAnyStatusIsPolled)
{
    TheScript().kind = SampleKind::OtherStruct;
    TheScript().samples = { SampleOf(Container::Frame(2, 64, 0)) };
    EXPECT_EQ(Run(Graph("OtherStruct")).failed, 1);
    EXPECT_TRUE(Reported("Unsupported dynamic structure."));
    EXPECT_TRUE(RecordedStatus().states.empty());
    EXPECT_EQ(Channel().frameHeight, 0u) << "nothing was declared to the unit";
    EXPECT_EQ(Channel().statusMessages, 0u);
}

namespace {

struct HostileCase {
    const char* name;
    Container (*make)();
    const char* warning;
    uint32_t linesSent;
    bool packetNumberWarning = false; ///< a line was left out inside a walk that went on
};

void PrintTo(const HostileCase& c, std::ostream* os)
{
    *os << c.name;
}

class HostileContainers : public ChunkFrames, public ::testing::WithParamInterface<HostileCase> { };

Container WithChunkOfLength(uint16_t length)
{
    Container c = Container::Frame(4, 64, 1);
    Container bad;
    bad.bytes = c.bytes;
    bad.bytes.resize(c.payloads[2] - MIPICSI2::BUS_PAYLOAD_OFFSET); // keeps two data chunks and the frame start
    const size_t at = bad.bytes.size();
    bad.Chunk(Type::UncompressedRAWDenslyPacked, SubType::RAW12, length, 3);
    if (length < 4)
        bad.bytes.resize(at + 4);
    MIPICSI2::write_uint16_t_be(bad.bytes.data() + at, length);
    bad.bytes.insert(bad.bytes.end(), 64, 0x11); // more bytes after it, never reached
    return bad;
}

Container PastTheEnd()
{
    Container c = Container::Frame(3, 64, 1);
    MIPICSI2::write_uint16_t_be(c.bytes.data() + c.payloads[2] - MIPICSI2::BUS_PAYLOAD_OFFSET, 60000);
    return c;
}

Container CutHeader()
{
    Container c = Container::Frame(3, 64, 1);
    c.bytes.resize(c.payloads[2] - MIPICSI2::BUS_PAYLOAD_OFFSET + 2);
    return c;
}

Container TooShortForAPayload()
{
    Container c;
    c.Data(SubType::RAW12, 64, 0)
        .Chunk(Type::UncompressedRAWDenslyPacked, SubType::RAW12, 12)
        .Data(SubType::RAW12, 64, 1);
    return c;
}

} // namespace

TEST_P(HostileContainers, EndTheWalkInsideTheContainerWithOneWarning)
{
    // A good first frame fixes the geometry; the hostile one follows.
    const Container good = Container::Frame(4, 64, 0);
    const Container bad = GetParam().make();
    TheScript().samples = { SampleOf(good), SampleOf(bad), SampleOf(good) };
    EXPECT_EQ(Run(Graph("Csi2Frame")).failed, 0);
    EXPECT_EQ(CountReports(GetParam().warning), 1u) << log.Text();
    EXPECT_EQ(Channel().datagrams, 8u + GetParam().linesSent);
    EXPECT_EQ(Reported("Frame 1: Packet number (2) does not match height (4)"), GetParam().packetNumberWarning);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HostileContainers,
    ::testing::Values(HostileCase{ "ChunkLengthZero", [] { return WithChunkOfLength(0); },
                                   "chunk length below the 4-byte chunk header", 2 },
                      HostileCase{ "ChunkLengthThree", [] { return WithChunkOfLength(3); },
                                   "chunk length below the 4-byte chunk header", 2 },
                      HostileCase{ "ChunkRunsPastTheEnd", &PastTheEnd, "chunk runs past the end of the container", 2 },
                      HostileCase{ "HeaderCutOff", &CutHeader, "chunk header cut off by the end of the container", 2 },
                      HostileCase{ "DataChunkTooShortForAPayload", &TooShortForAPayload,
                                   "is too short for a bus payload; skipped", 2, true }),
    [](const auto& c) { return std::string(c.param.name); });

namespace {

/// A frame the unit must complete: its number and the first `lines`
/// payloads of container `sample`.
struct ChunkUnitFrame {
    uint16_t frameNumber;
    size_t sample;
    size_t lines;
};

struct ChunkWalkCase {
    const char* name;
    std::vector<Container> (*make)();
    std::vector<ChunkUnitFrame> completes;
    std::vector<const char*> reports; ///< each given exactly once
    uint64_t sentFrames;              ///< Death's count
};

void PrintTo(const ChunkWalkCase& c, std::ostream* os)
{
    *os << c.name;
}

/// Four RAW12 data chunks whose third is replaced by a data chunk too
/// short to carry a bus payload.
Container WithAnEmptyDataChunk(uint8_t seed)
{
    Container c;
    c.Chunk(Type::UncompressedRAWDenslyPacked, SubType::FrameStart, 16, seed);
    c.Data(SubType::RAW12, 64, seed).Data(SubType::RAW12, 64, static_cast<uint8_t>(seed + 1));
    c.Chunk(Type::UncompressedRAWDenslyPacked, SubType::RAW12, 12, seed);
    c.Data(SubType::RAW12, 64, static_cast<uint8_t>(seed + 3));
    return c;
}

class ChunkWalks : public ChunkFrames, public ::testing::WithParamInterface<ChunkWalkCase> { };

} // namespace

TEST_P(ChunkWalks, SendEveryFrameWholeOrWarnAndNeverReuseANumberOfAFrameThatWentOut)
{
    const ChunkWalkCase& c = GetParam();
    const std::vector<Container> containers = c.make();
    for (const Container& container : containers)
        TheScript().samples.push_back(SampleOf(container));
    EXPECT_EQ(Run(Graph("Csi2Frame")).failed, 0);
    for (const char* report : c.reports)
        EXPECT_EQ(CountReports(report), 1u) << report << "\n" << log.Text();

    const auto frames = Frames();
    ASSERT_EQ(frames.size(), c.completes.size()) << "frames the unit completed";
    for (size_t i = 0; i < frames.size(); ++i) {
        const ChunkUnitFrame& want = c.completes[i];
        ExpectedFrame expected = containers[want.sample].Expected();
        expected.lineLengths.resize(want.lines);
        size_t bytes = 0;
        for (uint32_t length : expected.lineLengths)
            bytes += length;
        expected.bytes.resize(bytes);
        EXPECT_EQ(frames[i].frameNumber, want.frameNumber) << "completed frame " << i;
        EXPECT_EQ(frames[i].lineLengths, expected.lineLengths) << "completed frame " << i;
        EXPECT_TRUE(frames[i].bytes == expected.bytes) << "completed frame " << i << " carries sample " << want.sample;
    }
    EXPECT_TRUE(Reported("[Death]Sent " + std::to_string(c.sentFrames) + " frames.")) << log.Text();
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ChunkWalks,
    ::testing::Values(
        ChunkWalkCase{ "ADataChunkTooShortForAPayloadLeavesTheFrameUncounted",
                       [] {
                           return std::vector<Container>{ Container::Frame(4, 64, 0), WithAnEmptyDataChunk(1),
                                                          Container::Frame(4, 64, 2) };
                       },
                       { { 0, 0, 4 }, { 2, 2, 4 } },
                       { "Frame 1: data chunk of 12 bytes at byte offset 176 is too short for a bus payload; skipped.",
                         "Frame 1: Packet number (3) does not match height (4)" },
                       2 },
        ChunkWalkCase{ "FewerDataChunksAreSentCountedAndAdvisedAgainstOncePerRun",
                       [] {
                           return std::vector<Container>{ Container::Frame(4, 64, 0), Container::Frame(3, 64, 1),
                                                          Container::Frame(2, 64, 2), Container::Frame(4, 64, 3) };
                       },
                       { { 0, 0, 4 }, { 3, 3, 4 } },
                       { "Frame 1: Packet number (3) does not match height (4)",
                         "Frame 2: Packet number (2) does not match height (4)",
                         "fewer than the 4 lines declared to the unit" },
                       4 },
        ChunkWalkCase{ "MoreDataChunksCompleteAtTheDeclaredHeight",
                       [] {
                           return std::vector<Container>{ Container::Frame(4, 64, 0), Container::Frame(5, 64, 1),
                                                          Container::Frame(4, 64, 2) };
                       },
                       { { 0, 0, 4 }, { 1, 1, 4 }, { 2, 2, 4 } },
                       { "Frame 1: Packet number (5) does not match height (4)" },
                       3 },
        ChunkWalkCase{
            "AWalkEndingInsideTheContainerLeavesTheFrameUncounted",
            [] {
                return std::vector<Container>{ Container::Frame(4, 64, 0), PastTheEnd(), Container::Frame(4, 64, 2) };
            },
            { { 0, 0, 4 }, { 2, 2, 4 } },
            { "Frame 1: chunk container walk ended at byte offset" },
            2 }),
    [](const auto& c) { return std::string(c.param.name); });
