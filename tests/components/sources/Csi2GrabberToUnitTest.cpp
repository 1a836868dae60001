// Grabber byte streams of MIPI CSI-2 frames from HostCsi2GrabberSource
// through VxQirUnitClient into the emulated unit: every frame arrives
// complete with the source's checksum, under consecutive frame numbers, with
// one line per long packet of the size the options give.
#include "SourceToUnitFixture.h"

#include <string>

namespace sources_test {
namespace {

struct GrabberCase {
    const char* name;
    int wordCount;
    int longPackets;
    int bpp;
    bool frameEnd;
    bool skipPreamble;
    bool skipShortPackets;
    uint32_t lineBytes; ///< bytes of each unit packet
};

void PrintTo(const GrabberCase& c, std::ostream* os)
{
    *os << c.name;
}

class Csi2GrabberToUnit : public SourceToUnit, public ::testing::WithParamInterface<GrabberCase> { };

TEST_P(Csi2GrabberToUnit, FramesArriveCompleteWithTheSourcesChecksums)
{
    const GrabberCase& c = GetParam();
    const std::string options = std::string("SkipCsi2Preamble = ") + (c.skipPreamble ? "true" : "false") +
        ", SkipCsi2ShortPackages = " + (c.skipShortPackets ? "true" : "false");
    const host::RunResult result = RunSource(
        "HostCsi2GrabberSource",
        "Count = 6, WordCount = " + std::to_string(c.wordCount) + ", LongPackets = " + std::to_string(c.longPackets) +
            ", Bpp = " + std::to_string(c.bpp) + ", FrameEnd = " + (c.frameEnd ? "true" : "false") + ", " + options,
        options);
    EXPECT_EQ(result.failed, 0) << log.Text();
    ExpectReceivedAsSent(static_cast<uint16_t>(c.longPackets), c.lineBytes);
}

// Line sizes: the packet alone is word count + 6 bytes; with the preamble a
// record is 4 + word count + 6 bytes padded to whole pixels.
INSTANTIATE_TEST_SUITE_P(
    Records, Csi2GrabberToUnit,
    ::testing::Values(
        GrabberCase{ "Bpp16PacketsWithoutPreamble", 1200, 48, 16, false, true, false, 1206 },
        GrabberCase{ "Bpp12RecordsWithPreambleAndOnePaddingByte", 1201, 48, 12, false, false, false, 1212 },
        GrabberCase{ "Bpp64RecordsWithPreambleAndSixPaddingBytes", 1200, 48, 64, false, false, false, 1216 },
        GrabberCase{ "LinesLongerThanOneDatagram", 9000, 16, 16, false, true, false, 9006 },
        GrabberCase{ "SkippedFrameEndPacketLeavesTheLongPacketsAsLines", 1200, 48, 16, true, true, true, 1206 }),
    [](const auto& testCase) { return std::string(testCase.param.name); });

} // namespace
} // namespace sources_test
