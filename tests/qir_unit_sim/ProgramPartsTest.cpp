// The parts of the qir-unit-sim program: command line, summary, live line
// and frame dump.

#include "CommandLine.h"
#include "FrameDumper.h"
#include "LiveDisplay.h"
#include "PngWriter.h"
#include "Summary.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <png.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <ostream>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace vxqir::sim {
namespace {

using namespace std::chrono_literals;

ParseResult parse(std::vector<std::string> args)
{
    args.insert(args.begin(), "qir-unit-sim");
    std::vector<const char*> argv;
    for (const auto& a : args)
        argv.push_back(a.c_str());
    return parseCommandLine(static_cast<int>(argv.size()), argv.data());
}

// Command line -------------------------------------------------------------------

TEST(CommandLine, TakesTheUnitsAddressesPortsAndChannels)
{
    const ParseResult r =
        parse({ "--control-ip",       "127.0.0.2", "--control-port", "50000", "--data-ip",      "127.0.0.3",
                "--data-port",        "50100",     "--channels",     "4",     "--fifo-entries", "16",
                "--status-period-ms", "20",        "--duration",     "1.5",   "--summary-json", "s.json",
                "--ready-file",       "r.txt" });
    ASSERT_TRUE(r.options) << r.message;
    const ProgramOptions& o = *r.options;
    EXPECT_EQ(o.config.controlIp, "127.0.0.2");
    EXPECT_EQ(o.config.controlPort, 50000);
    EXPECT_EQ(o.config.dataIp, "127.0.0.3");
    EXPECT_EQ(o.config.dataBasePort, 50100);
    EXPECT_FALSE(o.config.controlPortPreferred) << "a port given is taken or the program fails";
    EXPECT_FALSE(o.config.dataPortsPreferred);
    EXPECT_EQ(o.config.channels, 4u);
    EXPECT_EQ(o.config.channel.fifoEntries, 16u);
    EXPECT_EQ(o.config.statusPeriod, 20ms);
    EXPECT_DOUBLE_EQ(o.durationSeconds, 1.5);
    EXPECT_EQ(o.summaryJson, "s.json");
    EXPECT_EQ(o.readyFile, "r.txt");
}

TEST(CommandLine, DefaultsToOneChannelOnLoopbackWithTheUnitsPortsWhenFree)
{
    const ParseResult r = parse({});
    ASSERT_TRUE(r.options);
    EXPECT_EQ(r.options->config.controlIp, "127.0.0.1");
    EXPECT_EQ(r.options->config.controlPort, 65024);
    EXPECT_EQ(r.options->config.dataBasePort, 61440);
    EXPECT_TRUE(r.options->config.controlPortPreferred);
    EXPECT_TRUE(r.options->config.dataPortsPreferred);
    EXPECT_EQ(r.options->config.channels, 1u);
    EXPECT_EQ(r.options->config.statusPeriod, 1ms);
    EXPECT_EQ(r.options->config.channel.playout.kind, PlayoutKind::Immediate);
    EXPECT_FALSE(r.options->dump);
}

TEST(CommandLine, TakesFaultsPlayoutAndDump)
{
    const ParseResult r = parse({ "--channels",
                                  "3",
                                  "--drop-replies",
                                  "0.25",
                                  "--reply-delay-ms",
                                  "40",
                                  "--status-delay-ms",
                                  "70",
                                  "--wrong-response-type",
                                  "--stop-status",
                                  "--unavailable-channel",
                                  "2",
                                  "--freeze-fifo",
                                  "--line-rate",
                                  "5000",
                                  "--ptp-synced",
                                  "--dump",
                                  "frames",
                                  "--pixel-format",
                                  "gray16" });
    ASSERT_TRUE(r.options) << r.message;
    const EmulatorConfig& c = r.options->config;
    EXPECT_DOUBLE_EQ(c.replyFaults.dropShare, 0.25);
    EXPECT_EQ(c.replyFaults.delay, 40ms);
    EXPECT_EQ(c.statusDelay, 70ms);
    EXPECT_TRUE(c.replyFaults.wrongResponseType);
    EXPECT_TRUE(c.statusStopped);
    EXPECT_EQ(c.unavailableChannels, std::vector<unsigned>{ 2 });
    EXPECT_TRUE(c.fifoFrozen);
    EXPECT_EQ(c.channel.playout.kind, PlayoutKind::LineRate);
    EXPECT_DOUBLE_EQ(c.channel.playout.linesPerSecond, 5000.0);
    EXPECT_TRUE(c.channel.ptpSynced);
    ASSERT_TRUE(r.options->dump);
    EXPECT_EQ(r.options->dump->directory, "frames");
    EXPECT_EQ(r.options->dump->pixelFormat, PixelFormat::Gray16);
    EXPECT_TRUE(c.checksumEveryFrame) << "a dump must see every frame";
}

TEST(CommandLine, PrintsHelpAndEndsWithoutError)
{
    const ParseResult r = parse({ "--help" });
    EXPECT_FALSE(r.options);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_THAT(r.message, ::testing::HasSubstr("--control-ip"));
}

struct RefusedArguments {
    const char* name;
    std::vector<std::string> args;
    const char* mentions;
};

void PrintTo(const RefusedArguments& value, std::ostream* out)
{
    *out << value.name;
}

class RefusedCommandLines : public ::testing::TestWithParam<RefusedArguments> { };

TEST_P(RefusedCommandLines, EndWithAUsageErrorNamingTheOption)
{
    const ParseResult r = parse(GetParam().args);
    EXPECT_FALSE(r.options);
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_THAT(r.message, ::testing::HasSubstr(GetParam().mentions));
}

INSTANTIATE_TEST_SUITE_P(
    Table, RefusedCommandLines,
    ::testing::Values(
        RefusedArguments{ "NoChannels", { "--channels", "0" }, "--channels" },
        RefusedArguments{ "TooManyChannels", { "--channels", "300" }, "--channels" },
        RefusedArguments{ "PortAbove65535", { "--control-port", "70000" }, "--control-port" },
        RefusedArguments{ "HostName", { "--control-ip", "localhost" }, "--control-ip" },
        RefusedArguments{ "DropShareAboveOne", { "--drop-replies", "2" }, "--drop-replies" },
        RefusedArguments{ "UnknownPlayout", { "--playout", "fast" }, "--playout" },
        RefusedArguments{ "LineRatePlayoutWithoutRate", { "--playout", "line-rate" }, "--line-rate" },
        RefusedArguments{ "RateForAnotherPlayout", { "--playout", "timestamps", "--line-rate", "9" }, "--line-rate" },
        RefusedArguments{ "UnservedUnavailableChannel", { "--unavailable-channel", "1" }, "--unavailable-channel 1" },
        RefusedArguments{ "PixelFormatWithoutDump", { "--pixel-format", "gray8" }, "--dump" },
        RefusedArguments{ "UnknownPixelFormat", { "--dump", "d", "--pixel-format", "yuv" }, "--pixel-format" },
        RefusedArguments{ "LiveAndNoLive", { "--live", "--no-live" }, "--live" },
        RefusedArguments{ "NegativeDuration",
                          { "--duration", "-1" },
                          "--duration: -1 is out of range: seconds from 0 (no limit) to 1000000000" },
        RefusedArguments{ "DurationBeyondTheClock", { "--duration", "1e300" }, "--duration: 1e300 is out" },
        RefusedArguments{ "ZeroLineRate", { "--line-rate", "0" }, "--line-rate: 0 is out of range: a number above 0" },
        RefusedArguments{ "SummaryAndReadyFileTheSame",
                          { "--summary-json", "a", "--ready-file", "a" },
                          "--summary-json and --ready-file name the same file a" },
        RefusedArguments{ "CaptureAndSummaryTheSame",
                          { "--summary-json", "a", "--capture", "a" },
                          "--capture names the same file as --summary-json or --ready-file: a" },
        RefusedArguments{ "StrayArgument", { "extra" }, "extra" }),
    [](const auto& testCase) { return std::string(testCase.param.name); });

// Summary and live line ------------------------------------------------------------

EmulatorSnapshot twoChannels()
{
    EmulatorSnapshot s;
    s.channels.resize(2);
    s.channels[0].channel = 0;
    s.channels[0].datagrams = 10;
    s.channels[0].bytes = 14480;
    s.channels[0].blocks = 5;
    s.channels[0].frames.framesComplete = 2;
    s.channels[0].frames.framesIncomplete = 1;
    s.channels[0].packetGaps = 3;
    s.channels[0].badDatagrams = 4;
    s.channels[0].fifo.overflows = 6;
    s.channels[0].lastChecksum = 0x85944171f73967e8ull;
    s.channels[0].fifoCapacity = 8;
    s.channels[0].fifoUsed = 2;
    s.channels[1].channel = 1;
    s.channels[1].fifoCapacity = 8;
    s.channels[1].loss = true;
    return s;
}

TEST(Summary, ListsEveryChannelWithItsCountersAndTheLastChecksum)
{
    const nlohmann::json j = makeSummary(twoChannels(), SummaryContext{});
    ASSERT_EQ(j.at("channels").size(), 2u);
    const auto& c = j["channels"][0];
    EXPECT_EQ(c.at("channel"), 0);
    EXPECT_EQ(c.at("datagrams"), 10);
    EXPECT_EQ(c.at("bytes"), 14480);
    EXPECT_EQ(c.at("blocks"), 5);
    EXPECT_EQ(c.at("frames_complete"), 2);
    EXPECT_EQ(c.at("frames_incomplete"), 1);
    EXPECT_EQ(c.at("packet_gaps"), 3);
    EXPECT_EQ(c.at("bad_datagrams"), 4);
    EXPECT_EQ(c.at("fifo_overflows"), 6);
    EXPECT_EQ(c.at("checksum"), "85944171f73967e8");
    EXPECT_TRUE(j["channels"][1].at("checksum").is_null()) << "no complete frame, no checksum";
    EXPECT_TRUE(j.contains("control")) << j.dump(2);
    EXPECT_TRUE(j.contains("unit")) << j.dump(2);
}

TEST(Summary, GivesOneGreppableLinePerChannel)
{
    const EmulatorSnapshot s = twoChannels();
    EXPECT_EQ(verificationLine(s.channels[0]),
              "channel=0 datagrams=10 bytes=14480 blocks=5 frames_complete=2 frames_incomplete=1 "
              "packet_gaps=3 bad_datagrams=4 fifo_overflows=6 fifo_played=0 fifo_skipped=0 "
              "frames_played=0 verdict=not_delivered checksum=85944171f73967e8");
    EXPECT_THAT(verificationLine(s.channels[1]), ::testing::HasSubstr("checksum=-"));
}

// A channel whose frames all arrived complete and were all played.
ChannelSnapshot deliveredChannel()
{
    ChannelSnapshot c;
    c.datagrams = 8;
    c.blocks = 8;
    c.frames.framesStarted = 2;
    c.frames.framesComplete = 2;
    c.fifo.pushed = 8;
    c.fifo.played = 8;
    c.fifo.framesPlayed = 2;
    return c;
}

struct VerdictCase {
    const char* name;
    std::function<void(ChannelSnapshot&)> change;
    const char* reason; // nullptr: delivered
};

void PrintTo(const VerdictCase& c, std::ostream* out)
{
    *out << c.name;
}

class ChannelVerdicts : public ::testing::TestWithParam<VerdictCase> { };

TEST_P(ChannelVerdicts, SayDeliveredOnlyWhenEveryFrameReachedTheDeviceUnderTest)
{
    const VerdictCase& c = GetParam();
    ChannelSnapshot s = deliveredChannel();
    c.change(s);
    const ChannelVerdict v = channelVerdict(s);
    const std::string line = verificationLine(s);
    if (c.reason == nullptr) {
        EXPECT_TRUE(v.delivered);
        EXPECT_THAT(line, ::testing::HasSubstr(" verdict=delivered "));
        return;
    }
    EXPECT_FALSE(v.delivered);
    EXPECT_NE(std::find(v.reasons.begin(), v.reasons.end(), c.reason), v.reasons.end()) << c.reason;
    EXPECT_THAT(line, ::testing::HasSubstr(" verdict=not_delivered "));
    const nlohmann::json j = makeSummary(EmulatorSnapshot{ {}, { s } }, SummaryContext{});
    EXPECT_EQ(j["channels"][0].at("verdict"), "not_delivered");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ChannelVerdicts,
    ::testing::Values(
        VerdictCase{ "EverythingPlayed", [](ChannelSnapshot&) {}, nullptr },
        VerdictCase{ "NothingArrived", [](ChannelSnapshot& c) { c = ChannelSnapshot{}; }, "no_frames" },
        // --freeze-fifo: the frames arrived whole, but none was played.
        VerdictCase{ "FrozenFifo",
                     [](ChannelSnapshot& c) {
                         c.fifo.played = 0;
                         c.fifo.framesPlayed = 0;
                         c.fifoUsed = 8;
                         c.framesAwaitingPlayout = 2;
                     },
                     "frames_awaiting_playout" },
        // --playout timestamps with a stop time: blocks dropped unplayed.
        VerdictCase{ "BlocksSkipped",
                     [](ChannelSnapshot& c) {
                         c.fifo.played = 0;
                         c.fifo.skipped = 8;
                         c.fifo.framesPlayed = 0;
                         c.fifo.framesNotPlayed = 2;
                     },
                     "fifo_skipped" },
        VerdictCase{ "FifoOverflowed", [](ChannelSnapshot& c) { c.fifo.overflows = 1; }, "fifo_overflows" },
        VerdictCase{ "FrameIncomplete", [](ChannelSnapshot& c) { c.frames.framesIncomplete = 1; },
                     "frames_incomplete" },
        VerdictCase{ "FrameStillOpen", [](ChannelSnapshot& c) { c.frameOpen = true; }, "frames_incomplete" },
        VerdictCase{ "PacketsMissing", [](ChannelSnapshot& c) { c.packetGaps = 1; }, "packet_gaps" },
        VerdictCase{ "BadDatagram", [](ChannelSnapshot& c) { c.badDatagrams = 1; }, "bad_datagrams" }),
    [](const auto& testCase) { return std::string(testCase.param.name); });

TEST(LiveDisplay, ShowsRatesSinceThePreviousSnapshotAndTheLossyChannels)
{
    EmulatorSnapshot before = twoChannels();
    EmulatorSnapshot after = before;
    after.channels[0].datagrams += 2000;
    after.channels[0].bytes += 4'000'000;
    after.channels[0].frames.framesComplete += 4;
    const std::string line = formatLiveLine(before, after, 2.0);
    EXPECT_THAT(line, ::testing::HasSubstr("1000 dgram/s"));
    EXPECT_THAT(line, ::testing::HasSubstr("2.0 MB/s"));
    EXPECT_THAT(line, ::testing::HasSubstr("frames 6 (2.0/s)"));
    EXPECT_THAT(line, ::testing::HasSubstr("free 14/16"));
    EXPECT_THAT(line, ::testing::HasSubstr("loss ch1"));
}

// Frame dump ---------------------------------------------------------------------------

class TemporaryDirectory {
public:
    TemporaryDirectory()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "qir-unit-sim-XXXXXX").string();
        path_ = ::mkdtemp(pattern.data());
    }
    ~TemporaryDirectory() { std::filesystem::remove_all(path_); }
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

std::vector<uint8_t> readFile(const std::filesystem::path& p)
{
    std::ifstream in(p, std::ios::binary);
    return { std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>() };
}

CompletedFrame frameOf(PixelFormat format, uint16_t width, uint16_t height)
{
    CompletedFrame f;
    f.channel = 1;
    f.frameNumber = 42;
    f.sequence = 3;
    f.width = width;
    f.height = height;
    const size_t line = bytesPerLine(format, width);
    f.lineLengths.assign(height, static_cast<uint32_t>(line));
    for (size_t i = 0; i < line * height; ++i)
        f.bytes.push_back(static_cast<uint8_t>(i * 37));
    return f;
}

struct PngPicture {
    std::string error;
    png_uint_32 width = 0;
    png_uint_32 height = 0;
    int bitDepth = 0;
    int colorType = 0;
    std::vector<uint8_t> bytes; ///< rows one after another, 16-bit samples little-endian
};

// libpng reports errors by longjmp; nothing with a destructor lives between
// setjmp and the calls that may jump.
bool readRows(png_structp png, png_infop info, FILE* file, PngPicture& out)
{
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_init_io(png, file);
    png_read_png(png, info, PNG_TRANSFORM_SWAP_ENDIAN, nullptr);
    out.width = png_get_image_width(png, info);
    out.height = png_get_image_height(png, info);
    out.bitDepth = png_get_bit_depth(png, info);
    out.colorType = png_get_color_type(png, info);
    const size_t rowBytes = png_get_rowbytes(png, info);
    png_bytepp rows = png_get_rows(png, info);
    for (png_uint_32 y = 0; y < out.height; ++y)
        out.bytes.insert(out.bytes.end(), rows[y], rows[y] + rowBytes);
    return true;
}

PngPicture readPng(const std::filesystem::path& path)
{
    PngPicture out;
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        out.error = "cannot open " + path.string();
        return out;
    }
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (!readRows(png, info, file, out))
        out.error = "libpng cannot read " + path.string();
    png_destroy_read_struct(&png, &info, nullptr);
    std::fclose(file);
    return out;
}

class DumpedPictures : public ::testing::TestWithParam<PixelFormat> { };

TEST_P(DumpedPictures, ReadBackWithTheBytesThatArrived)
{
    TemporaryDirectory dir;
    FrameDumper dumper({ dir.path(), GetParam(), 10 });
    const CompletedFrame frame = frameOf(GetParam(), 5, 3);
    dumper(frame, 0x1234);
    EXPECT_EQ(dumper.counters().rawFiles, 1u);
    ASSERT_EQ(dumper.counters().pngFiles, 1u);
    EXPECT_EQ(readFile(dir.path() / "ch1_frame000003_num00042.raw"), frame.bytes);

    const PngPicture picture = readPng(dir.path() / "ch1_frame000003_num00042.png");
    ASSERT_TRUE(picture.error.empty()) << picture.error;
    const PixelLayout& layout = pixelLayout(GetParam());
    EXPECT_EQ(picture.width, 5u);
    EXPECT_EQ(picture.height, 3u);
    EXPECT_EQ(picture.bitDepth, static_cast<int>(layout.bitDepth));
    EXPECT_EQ(picture.colorType, layout.pngColorType);
    EXPECT_EQ(picture.bytes, frame.bytes) << "16-bit samples must read back little-endian as sent";
}

INSTANTIATE_TEST_SUITE_P(Layouts, DumpedPictures,
                         ::testing::Values(PixelFormat::Gray8, PixelFormat::Gray16, PixelFormat::Rgb8));

TEST(FrameDump, WritesNoPictureForLinesThatDoNotFitThePixelLayout)
{
    TemporaryDirectory dir;
    FrameDumper dumper({ dir.path(), PixelFormat::Rgb8, 10 });
    CompletedFrame frame = frameOf(PixelFormat::Gray8, 5, 3); // 5 bytes per line, RGB needs 15
    dumper(frame, 1);
    EXPECT_EQ(dumper.counters().rawFiles, 1u);
    EXPECT_EQ(dumper.counters().pngFiles, 0u);
    EXPECT_EQ(dumper.counters().pngSkipped, 1u);
}

TEST(FrameDump, StopsWritingAfterTheFrameLimitButKeepsTheIndex)
{
    TemporaryDirectory dir;
    FrameDumper dumper({ dir.path(), std::nullopt, 2 });
    for (uint64_t seq = 1; seq <= 3; ++seq) {
        CompletedFrame frame = frameOf(PixelFormat::Gray8, 4, 1);
        frame.sequence = seq;
        dumper(frame, seq);
    }
    EXPECT_EQ(dumper.counters().rawFiles, 2u);
    const auto index = readFile(dir.path() / "index.txt");
    EXPECT_THAT(std::string(index.begin(), index.end()), ::testing::HasSubstr("1 2 42 4 0000000000000002"));
}

TEST(FrameDump, RefusesADirectoryItCannotCreateNamingIt)
{
    TemporaryDirectory dir;
    std::ofstream(dir.path() / "plain-file") << "x";
    const auto impossible = dir.path() / "plain-file" / "frames";
    try {
        FrameDumper dumper({ impossible, std::nullopt, 1 });
        FAIL() << "the dumper must refuse " << impossible;
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find(impossible.string()), std::string::npos) << e.what();
    }
}

TEST(PngWriter, RefusesPixelsThatDoNotMakeTheGivenPicture)
{
    TemporaryDirectory dir;
    const std::vector<uint8_t> pixels(10);
    const std::string error = writePng(dir.path() / "x.png", PixelFormat::Gray8, 4, 3, pixels);
    EXPECT_THAT(error, ::testing::HasSubstr("10 bytes"));
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "x.png"));
}

} // namespace
} // namespace vxqir::sim
