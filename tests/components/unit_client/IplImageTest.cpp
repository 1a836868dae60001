// Uncompressed IPL images through the unit client into an emulated unit:
// one packet per row, the row's bytes only, one frame per image.
#include "UnitClientFixture.h"

#include <gmock/gmock.h>

#include <ostream>

using namespace unit_client_test;

namespace {

/// An image of `g` whose every byte, padding included, carries `seed`.
std::vector<uint8_t> IplBytes(const IplGeometry& g, uint8_t seed)
{
    const IplImage model = IplModelOf(g);
    std::vector<uint8_t> bytes(static_cast<size_t>(model.imageSize));
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<uint8_t>(i * 7 + seed + 1);
    return bytes;
}

/// The unit's view of that image: `lineLength` bytes from each row start.
ExpectedFrame RowsOf(const IplGeometry& g, const std::vector<uint8_t>& bytes, size_t lineLength)
{
    const IplImage model = IplModelOf(g);
    ExpectedFrame frame;
    for (int32_t row = 0; row < g.height; ++row)
        frame.Line(bytes.data() + static_cast<size_t>(row) * model.widthStep, lineLength);
    return frame;
}

struct IplCase {
    const char* name;
    IplGeometry geometry;
    uint32_t lineLength;
};

void PrintTo(const IplCase& c, std::ostream* os)
{
    *os << c.name;
}

class IplImages : public UnitClientFixture, public ::testing::WithParamInterface<IplCase> { };

} // namespace

TEST_P(IplImages, ArriveAsOneLinePerRowWithTheRowBytesOnly)
{
    StartUnit();
    const IplCase& c = GetParam();
    Script& script = TheScript();
    script.kind = SampleKind::Ipl;
    script.ipl = c.geometry;
    for (uint8_t n = 0; n < 3; ++n) {
        ScriptedSample sample;
        sample.bytes = IplBytes(c.geometry, n);
        sample.timestampUs = 5'000'000 + n * 40'000;
        script.samples.push_back(sample);
    }

    const host::RunResult result = Run(Graph("Ipl"));
    EXPECT_EQ(result.failed, 0);

    const auto frames = Frames();
    ASSERT_EQ(frames.size(), 3u);
    for (uint16_t n = 0; n < 3; ++n) {
        SCOPED_TRACE(n);
        const ExpectedFrame expected = RowsOf(c.geometry, script.samples[n].bytes, c.lineLength);
        EXPECT_EQ(frames[n].frameNumber, n);
        EXPECT_EQ(frames[n].height, c.geometry.height);
        EXPECT_EQ(frames[n].timestampNs, static_cast<uint64_t>(script.samples[n].timestampUs) * 1000u);
        EXPECT_EQ(frames[n].lineLengths, expected.lineLengths);
        EXPECT_TRUE(frames[n].bytes == expected.bytes) << "frame bytes differ from the image rows";
    }
    const auto channel = Channel();
    EXPECT_EQ(channel.frameWidth, c.lineLength);
    EXPECT_EQ(channel.frames.framesIncomplete, 0u);
    EXPECT_TRUE(Reported("[Death]Sent 3 frames."));
    EXPECT_TRUE(Reported("Sending uncompressed IPL images."));
}

INSTANTIATE_TEST_SUITE_P(Geometries, IplImages,
                         ::testing::Values(IplCase{ "Vga640x480Rgb", { 640, 480, 8, "BGR", 4 }, 1920 },
                                           IplCase{ "RowPaddingIsNotSent", { 641, 4, 8, "BGR", 4 }, 1923 },
                                           IplCase{ "Depth12CountsOneBytePerChannel", { 5, 3, 12, "BGR", 4 }, 15 },
                                           IplCase{ "GrayWithWideAlignment", { 7, 3, 8, "GRAY", 8 }, 7 }),
                         [](const auto& c) { return std::string(c.param.name); });


class IplImageRefusal : public UnitClientFixture { };

TEST_F(IplImageRefusal, ALineLongerThan16BitsFailsTheFirstSampleNamingItsLength)
{
    StartUnit();
    Script& script = TheScript();
    script.kind = SampleKind::Ipl;
    script.ipl = { 21846, 2, 8, "BGR", 4 };
    ScriptedSample sample;
    sample.bytes = IplBytes(script.ipl, 0);
    script.samples = { sample };
    EXPECT_EQ(Run(Graph("Ipl")).failed, 1);
    EXPECT_TRUE(Reported("[Core] IPL line length 65538 bytes")) << log.Text();
    EXPECT_EQ(Channel().datagrams, 0u) << "nothing cut to 16 bits went out";
    EXPECT_EQ(Channel().frameWidth, 0u);
}
