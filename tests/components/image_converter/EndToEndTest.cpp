// Raw frames through the converter and the unit client into an emulated unit
// on loopback (control 127.0.0.2, data 127.0.0.3): every frame arrives
// complete, and the unit's checksum of it equals the checksum of the image
// the frame converts into, computed here from the source's pattern.
#include "CollectedAssertions.h"
#include "FrameChecksum.h"
#include "HostKernel.h"
#include "InProcessGraph.h"
#include "ReportLog.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <mutex>
#include <ostream>
#include <string>
#include <vector>

namespace {

using component_test::UNIT_CONTROL_IP;
using component_test::UNIT_DATA_IP;
constexpr uint32_t kFrames = 5;

/// Word `index` of the pixel data of frame `frame` from HostRawFrameSource's
/// Ramp pattern.
uint16_t RampWord(uint64_t index, uint64_t frame)
{
    return static_cast<uint16_t>(index + frame);
}

/// Checksum of the image frame `frame` converts into, one line per row of
/// `width` pixels (the unit receives a row's pixel bytes, not its padding).
uint64_t ExpectedChecksum(bool mono, uint32_t width, uint32_t height, uint64_t frame)
{
    vxqir::frames::FrameChecksum sum;
    std::vector<uint8_t> row;
    for (uint32_t r = 0; r < height; ++r) {
        row.clear();
        for (uint32_t c = 0; c < width; ++c) {
            const uint64_t pixel = static_cast<uint64_t>(r) * width + c;
            if (mono) {
                const uint16_t word = RampWord(pixel, frame);
                row.push_back(static_cast<uint8_t>(word));
                row.push_back(static_cast<uint8_t>(word >> 8));
            } else {
                const uint32_t a = RampWord(2 * pixel, frame) % 1024u;
                const uint32_t b = RampWord(2 * pixel + 1, frame) % 1024u;
                const uint32_t v = b * (1u << 14) + a * 4u;
                row.push_back(static_cast<uint8_t>(v % 256));
                row.push_back(static_cast<uint8_t>(v / 256 % 256));
                row.push_back(static_cast<uint8_t>(v / 65536));
            }
        }
        sum.update(row);
    }
    return sum.value();
}

struct E2eCase {
    const char* name;
    bool mono;
    uint32_t width;
    uint32_t height;
};

[[maybe_unused]] void PrintTo(const E2eCase& c, std::ostream* os)
{
    *os << c.name;
}

struct UnitFrame {
    uint16_t height;
    uint32_t firstLineLength;
    uint64_t checksum;
};

class RawFrameGraph : public ::testing::Test {
protected:
    void SetUp() override
    {
        host::HostKernel::Instance().Attach(&log, nullptr, &engine);
        engine.Set("Engine.shutdownTimeout", host::EngineValue{ int64_t{ 2'000'000 } });
        unit =
            component_test::StartLoopbackUnit({}, [this](const vxqir::sim::CompletedFrame& frame, uint64_t checksum) {
                const std::lock_guard lock(mutex);
                frames.push_back({ frame.height, frame.lineLengths.empty() ? 0 : frame.lineLengths[0], checksum });
            });
    }
    void TearDown() override
    {
        runner.reset();
        graph.reset();
        host::HostKernel::Instance().Attach(nullptr, nullptr, nullptr);
        unit->stop();
        if (HasFailure())
            std::fprintf(stderr, "%s", log.Text().c_str());
    }

    std::string GraphText(const E2eCase& c) const
    {
        const std::string size = "Width = " + std::to_string(c.width) + ", Height = " + std::to_string(c.height);
        std::string toml = "[run]\nuntil = \"sources-end\"\nduration = \"60s\"\n";
        toml += "[[component]]\nname = \"camera\"\nmodel = \"HostRawFrameSource\"\nproperties = { " + size +
            ", Format = \"" + (c.mono ? "Mono" : "YUV422") + "\", Count = " + std::to_string(kFrames) +
            ", PeriodUs = 20000, FirstFrameDelayUs = 300000 }\n";
        toml += "[[component]]\nname = \"offset\"\nmodel = \"HostInt64Source\"\n"
                "properties = { Mode = \"Constant\", Value = 1000000, Count = 1, PeriodUs = 1000 }\n";
        toml += "[[component]]\nname = \"conv\"\nmodel = \"VxQirImageConverter\"\nproperties = { " + size +
            ", InputFormat = \"" + (c.mono ? "Mono" : "YUV422") + "\", OutputFormat = \"" +
            (c.mono ? "Mono16Bit" : "YUYV_in_24bitRGB") + "\" }\n";
        toml += "[[component]]\nname = \"uc\"\nmodel = \"VxQirUnitClient\"\nproperties = { QirControlIP = \"" +
            std::string(UNIT_CONTROL_IP) + "\", QirControlPort = " + std::to_string(unit->controlPort()) +
            ", SensorDataIP = \"" + UNIT_DATA_IP + "\", SensorDataBasePort = " + std::to_string(unit->dataBasePort()) +
            ", LocalControlIP = \"127.0.0.1\", LocalControlPort = 0, TimeoutGet = 2000000"
            ", TimeoutStream = 50000, StatusUpdatePeriod = 20000 }\n";
        toml += "[[connection]]\nfrom = \"camera.Frames\"\nto = \"conv.frame_in\"\n";
        toml += "[[connection]]\nfrom = \"conv.QIR_IPLImage\"\nto = \"uc.SensorDataIn\"\n";
        toml += "[[connection]]\nfrom = \"offset.Value\"\nto = \"uc.LoggingStartTime\"\n";
        return toml;
    }

    host::RunResult Run(const std::string& toml)
    {
        const host::RunResult result = component_test::RunInProcess(toml, options, graph, runner);
        unit->drainChecksums();
        return result;
    }

    host::ReportLog log;
    host::EngineProperties engine;
    host::RunOptions options;
    std::unique_ptr<vxqir::sim::UnitEmulator> unit;
    std::unique_ptr<host::Graph> graph;
    std::unique_ptr<host::GraphRunner> runner;
    std::mutex mutex; ///< guards frames (written on the emulator's checksum thread)
    std::vector<UnitFrame> frames;

    /// Warnings of component `source`, in order.
    std::vector<std::string> Warnings(const std::string& source) const
    {
        std::vector<std::string> texts;
        for (const auto& report : log.Reports()) {
            if (report.source == source && report.level == KOVA::Warning)
                texts.push_back(report.text);
        }
        return texts;
    }
};

class RawFramesToUnit : public RawFrameGraph, public ::testing::WithParamInterface<E2eCase> { };

} // namespace

TEST_P(RawFramesToUnit, EveryFrameArrivesWithTheChecksumOfItsConvertedImage)
{
    const E2eCase& c = GetParam();
    const host::RunResult result = Run(GraphText(c));
    EXPECT_EQ(result.failed, 0);
    const std::lock_guard lock(mutex);
    ASSERT_EQ(frames.size(), kFrames);
    for (uint32_t n = 0; n < kFrames; ++n) {
        SCOPED_TRACE(n);
        EXPECT_EQ(frames[n].height, c.height);
        EXPECT_EQ(frames[n].firstLineLength, c.width * (c.mono ? 2 : 3));
        EXPECT_EQ(vxqir::frames::checksumText(frames[n].checksum),
                  vxqir::frames::checksumText(ExpectedChecksum(c.mono, c.width, c.height, n)));
    }
    EXPECT_TRUE(qir::test::HasReport(log, "", "[Death]Sent 5 frames."));
    // The source's headers are right, so the converter has nothing to warn about.
    EXPECT_THAT(Warnings("conv"), ::testing::ElementsAre(::testing::StartsWith("Output Image allocated: ")));
}

INSTANTIATE_TEST_SUITE_P(Cases, RawFramesToUnit,
                         ::testing::Values(E2eCase{ "Yuv422IntoRgb", false, 333, 24 },
                                           E2eCase{ "MonoIntoGray", true, 333, 24 }),
                         ::testing::PrintToStringParamName());

TEST_F(RawFrameGraph, WrongHeaderValuesAndShortFramesFromTheSourceReachTheConverterAsSuch)
{
    // 16 x 4 YUV pixels need 64 + 256 bytes; the frames stop after 64 + 100.
    const std::string toml = "[run]\nuntil = \"sources-end\"\nduration = \"30s\"\n"
                             "[[component]]\nname = \"camera\"\nmodel = \"HostRawFrameSource\"\n"
                             "properties = { Width = 16, Height = 4, Count = 2, PeriodUs = 1000, HeaderLines = 3, "
                             "HeaderBitsPerWord = 12, HeaderFrameSize = 100, FrameBytes = 164 }\n"
                             "[[component]]\nname = \"conv\"\nmodel = \"VxQirImageConverter\"\n"
                             "properties = { Width = 16, Height = 4 }\n"
                             "[[component]]\nname = \"sink\"\nmodel = \"HostSampleSink\"\n"
                             "[[connection]]\nfrom = \"camera.Frames\"\nto = \"conv.frame_in\"\n"
                             "[[connection]]\nfrom = \"conv.QIR_IPLImage\"\nto = \"sink.In\"\n";
    const host::RunResult result = Run(toml);
    EXPECT_EQ(result.failed, 0);
    std::vector<std::string> perFrame = {
        "Height in Frame Header does not match user selection!",
        "BitPerPixel in Frame Header does not match user selection!",
        "Framesize in Frame Header is too small for image",
        "[Core] Frame of 164 bytes is shorter than the 320 bytes the conversion needs; converted 1 of 4 lines, "
        "the others are zero"
    };
    std::vector<std::string> expected = { "Output Image allocated: Width=16, height=4, BitsPerPixel=24" };
    expected.insert(expected.end(), perFrame.begin(), perFrame.end());
    expected.insert(expected.end(), perFrame.begin(), perFrame.end());
    EXPECT_EQ(Warnings("conv"), expected);
    EXPECT_TRUE(qir::test::HasReport(log, "sink", "[Death] Received 2 samples"));
}
