// Coded framework images of varying size from HostCodedImageSource through
// VxQirUnitClient into the emulated unit: each image arrives as packets of
// "MaxPayLoadSize" rounded down to a multiple of 8, the last one filled with
// zeros, under the source's checksum.
#include "SourceToUnitFixture.h"

namespace sources_test {
namespace {

struct CodedCase {
    const char* name;
    int maxPayloadSize;
    int height;
    uint32_t packetBytes;
};

void PrintTo(const CodedCase& c, std::ostream* os)
{
    *os << c.name;
}

class CodedImagesToUnit : public SourceToUnit, public ::testing::WithParamInterface<CodedCase> { };

TEST_P(CodedImagesToUnit, ImagesArriveInZeroFilledPacketsWithTheSourcesChecksums)
{
    const CodedCase& c = GetParam();
    const std::string payload = "MaxPayLoadSize = " + std::to_string(c.maxPayloadSize);
    const host::RunResult result =
        RunSource("HostCodedImageSource", "Count = 6, Height = " + std::to_string(c.height) + ", " + payload, payload);
    EXPECT_EQ(result.failed, 0) << log.Text();
    ExpectReceivedAsSent(static_cast<uint16_t>(c.height), c.packetBytes);
}

INSTANTIATE_TEST_SUITE_P(PayloadSizes, CodedImagesToUnit,
                         ::testing::Values(CodedCase{ "ThreePacketsOf8944At8948", 8948, 3, 8944 },
                                           CodedCase{ "ThreePacketsOf8944At8950", 8950, 3, 8944 },
                                           CodedCase{ "ManySmallPacketsAt1500", 1500, 40, 1496 }),
                         [](const auto& testCase) { return std::string(testCase.param.name); });

} // namespace
} // namespace sources_test
