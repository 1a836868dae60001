// Framework images (coded bytes) through the unit client: fixed-size chunks
// of "MaxPayLoadSize" rounded down to 8, the last one zero-filled.
#include "UnitClientFixture.h"

#include <gmock/gmock.h>

#include <ostream>

using namespace unit_client_test;

namespace {

std::vector<uint8_t> CodedBytes(size_t size, uint8_t seed)
{
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<uint8_t>(i * 13 + seed + 1);
    return bytes;
}

/// The chunks the unit should see: `chunk` bytes each, the last padded.
ExpectedFrame Chunks(const std::vector<uint8_t>& bytes, size_t chunk)
{
    ExpectedFrame frame;
    for (size_t at = 0; at < bytes.size(); at += chunk) {
        std::vector<uint8_t> line(chunk, 0);
        std::copy(bytes.begin() + static_cast<ptrdiff_t>(at),
                  bytes.begin() + static_cast<ptrdiff_t>(std::min(bytes.size(), at + chunk)), line.begin());
        frame.Line(line.data(), line.size());
    }
    return frame;
}

struct CodedCase {
    const char* name;
    int64_t maxPayload;
    size_t imageBytes;
    uint32_t chunk;
};

void PrintTo(const CodedCase& c, std::ostream* os)
{
    *os << c.name;
}

class CodedImages : public UnitClientFixture, public ::testing::WithParamInterface<CodedCase> { };

} // namespace

TEST_P(CodedImages, ArriveInChunksOfTheRoundedPayloadSizeWithZerosAfterTheLastBytes)
{
    StartUnit();
    const CodedCase& c = GetParam();
    Script& script = TheScript();
    script.kind = SampleKind::Coded;
    for (uint8_t n = 0; n < 2; ++n) {
        ScriptedSample sample;
        sample.bytes = CodedBytes(c.imageBytes, n);
        sample.codedHeight = 3;
        script.samples.push_back(sample);
    }
    EXPECT_EQ(Run(Graph("Coded", "MaxPayLoadSize = " + std::to_string(c.maxPayload))).failed, 0);

    const auto frames = Frames();
    ASSERT_EQ(frames.size(), 2u);
    for (uint16_t n = 0; n < 2; ++n) {
        const ExpectedFrame expected = Chunks(script.samples[n].bytes, c.chunk);
        EXPECT_EQ(frames[n].frameNumber, n);
        EXPECT_EQ(frames[n].lineLengths, expected.lineLengths);
        EXPECT_TRUE(frames[n].bytes == expected.bytes);
    }
    EXPECT_TRUE(Reported("Sending compressed KOVA images."));
    EXPECT_EQ(Channel().frameWidth, 65536 / 3) << "buffer size / height";
}

INSTANTIATE_TEST_SUITE_P(PayloadSizes, CodedImages,
                         ::testing::Values(CodedCase{ "ThreeChunksAt8948", 8948, 20000, 8944 },
                                           CodedCase{ "ThreeChunksAt8950RoundedDownTo8944", 8950, 20000, 8944 },
                                           CodedCase{ "ExactMultipleHasNoPaddedChunk", 1448, 3 * 1448, 1448 },
                                           CodedCase{ "SmallestPayload", 8, 20, 8 }),
                         [](const auto& c) { return std::string(c.param.name); });

class CodedImageEdges : public UnitClientFixture { };

TEST_F(CodedImageEdges, AnEmptyImageSendsNothingButCountsAFrame)
{
    StartUnit();
    Script& script = TheScript();
    script.kind = SampleKind::Coded;
    for (size_t size : { size_t{ 20000 }, size_t{ 0 }, size_t{ 20000 } }) {
        ScriptedSample sample;
        sample.bytes = CodedBytes(size, 1);
        sample.codedHeight = 3;
        script.samples.push_back(sample);
    }
    EXPECT_EQ(Run(Graph("Coded")).failed, 0);
    const auto frames = Frames();
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0].frameNumber, 0);
    EXPECT_EQ(frames[1].frameNumber, 2) << "the empty image took frame number 1";
    EXPECT_TRUE(Reported("[Death]Sent 3 frames."));
}

TEST_F(CodedImageEdges, AnImageSizeBeyondTheElementIsCutAtTheElementAndNotCounted)
{
    StartUnit();
    Script& script = TheScript();
    script.kind = SampleKind::Coded;
    script.codedBufferBytes = 16384;
    ScriptedSample sample;
    sample.bytes = CodedBytes(16384, 1);
    sample.codedHeight = 2;
    sample.codedImageSize = 1'000'000;
    script.samples.push_back(sample);
    EXPECT_EQ(Run(Graph("Coded")).failed, 0);
    EXPECT_TRUE(Reported("imageSize 1000000 exceeds the element's 16384 bytes")) << log.Text();
    EXPECT_TRUE(Reported("[Death]Sent 0 frames."));
}

TEST_F(CodedImageEdges, TheLineLengthIsTheBufferSizeOverTheHeight)
{
    StartUnit();
    Script& script = TheScript();
    script.kind = SampleKind::Coded;
    script.codedBufferBytes = 1'000'000;
    ScriptedSample sample;
    sample.bytes = CodedBytes(100, 1);
    sample.codedHeight = 1080;
    script.samples.push_back(sample);
    EXPECT_EQ(Run(Graph("Coded")).failed, 0);
    EXPECT_EQ(Channel().frameWidth, 925);
    EXPECT_EQ(Channel().frameHeight, 1080);
}

TEST_F(CodedImageEdges, AHeightOfZeroAtTheFirstImageFailsTheComponentNamingTheField)
{
    StartUnit();
    Script& script = TheScript();
    script.kind = SampleKind::Coded;
    ScriptedSample sample;
    sample.bytes = CodedBytes(100, 1);
    sample.codedHeight = 0;
    script.samples.push_back(sample);
    EXPECT_EQ(Run(Graph("Coded")).failed, 1);
    EXPECT_TRUE(Reported("[Core] Framework image height is 0"));
    EXPECT_EQ(Channel().datagrams, 0u);
}

TEST_F(CodedImageEdges, ImagesOfFewerChunksThanTheirHeightNeverCompleteAndAreAdvisedAgainstOncePerRun)
{
    StartUnit();
    Script& script = TheScript();
    script.kind = SampleKind::Coded;
    for (uint8_t n = 0; n < 3; ++n) {
        ScriptedSample sample;
        sample.bytes = CodedBytes(20000, n);
        sample.codedHeight = 5;
        script.samples.push_back(sample);
    }
    EXPECT_EQ(Run(Graph("Coded")).failed, 0);
    EXPECT_EQ(CountReports("went out as 3 packets, fewer than the 5 lines declared to the unit"), 1u) << log.Text();
    EXPECT_TRUE(Frames().empty()) << "the end-of-frame mark belongs to line 4, which no image reaches";
    EXPECT_TRUE(Reported("[Death]Sent 3 frames."));
}
