// Video files as users replay them: clips written by qir-gen video and by
// the test play into the embedded emulated unit over loopback UDP, every
// frame complete with the checksum of the decoded, converted frame, at the
// times the container gives; check shows the figures; damage is one line
// naming the frame, exit 2.
#include "Recording.h"
#include "ReplayToolRuns.h"
#include "ToolRunner.h"
#include "VideoClips.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <unistd.h>

#include <cstdlib>
#include <string_view>

namespace {

using qir::data_types::test::run;
using qir::data_types::test::TempDir;
using qir::replay::test::generate;
using qir::replay::test::readJson;

constexpr double kMs = 1e6;

struct VideoCase {
    std::string name;
    std::string encoder; ///< FFmpeg's encoder the clip needs
    std::vector<std::string> genArgs;
    std::string file;
    std::vector<std::string> replayArgs;
    uint64_t frames; ///< sent
};

void PrintTo(const VideoCase& c, std::ostream* os)
{
    *os << c.name;
}

class ReplayedVideo : public ::testing::TestWithParam<VideoCase> { };

TEST_P(ReplayedVideo, EveryFrameArrivesCompleteWithTheDecodedFramesChecksum)
{
    const VideoCase& c = GetParam();
    if (!qir::video::hasEncoder(c.encoder))
        GTEST_SKIP() << "FFmpeg here has no " << c.encoder << " encoder";
    TempDir dir;
    const std::string clip = dir.file(c.file);
    std::vector<std::string> gen = { "video", "--width", "64", "--height", "48", "--fps", "25" };
    gen.insert(gen.end(), c.genArgs.begin(), c.genArgs.end());
    ASSERT_NO_FATAL_FAILURE(generate(gen, clip, dir));
    std::vector<std::string> args = { QIR_REPLAY_TOOL, clip, "--quiet", "--summary-json", dir.file("s.json") };
    args.insert(args.end(), c.replayArgs.begin(), c.replayArgs.end());
    const auto result = run(args, dir);
    ASSERT_EQ(result.exit_code, 0) << result.out << result.err;
    EXPECT_NE(result.out.find("verdict: every frame arrived complete"), std::string::npos) << result.out;
    const nlohmann::json summary = readJson(dir.file("s.json"));
    const auto& channel = summary["channels"][0];
    EXPECT_EQ(channel["format"], "video");
    EXPECT_EQ(channel["framesToSend"], c.frames);
    EXPECT_EQ(channel["framesComplete"], c.frames);
    EXPECT_EQ(channel["framesIncomplete"], 0);
    EXPECT_EQ(channel["checksumsMatched"], c.frames);
    EXPECT_EQ(channel["framesPlayed"], c.frames);
}

INSTANTIATE_TEST_SUITE_P(
    Clips, ReplayedVideo,
    ::testing::Values(VideoCase{ "Ffv1InMatroskaAsBgr24", "ffv1", { "--frames", "10" }, "clip.mkv", {}, 10 },
                      VideoCase{ "MjpegInAviAsGray16ForcedAsVideo",
                                 "mjpeg",
                                 { "--codec", "mjpeg", "--frames", "8" },
                                 "clip.avi",
                                 { "--pixel-format", "gray16le", "--format", "video" },
                                 8 },
                      VideoCase{ "RawVideoInNutAsYuyvPickedAndLooped",
                                 "rawvideo",
                                 { "--codec", "rawvideo", "--frames", "10" },
                                 "clip.nut",
                                 { "--pixel-format", "yuyv422", "--from", "#2", "--to", "#7", "--loop", "2" },
                                 10 },
                      VideoCase{ "MjpegInQuickTimeAsRgbAtFullSpeed",
                                 "mjpeg",
                                 { "--codec", "mjpeg", "--frames", "12" },
                                 "clip.mov",
                                 { "--pixel-format", "rgb24", "--rate", "max" },
                                 12 },
                      VideoCase{ "H264InMp4AsUyvy",
                                 "libx264",
                                 { "--codec", "h264", "--frames", "12" },
                                 "clip.mp4",
                                 { "--pixel-format", "uyvy422", "--rate", "4" },
                                 12 }),
    [](const auto& tested) { return tested.param.name; });

TEST(VideoReplay, VariableFrameRatePlaysAtTheContainersTimes)
{
    TempDir dir;
    const std::string clip = dir.file("vfr.mkv");
    qir::video::ClipSpec spec = qir::video::test::clipSpec("ffv1", 6);
    spec.timesUs = { 0, 40000, 200000, 210000, 450000, 600000 };
    ASSERT_NO_FATAL_FAILURE(qir::video::test::writeTestClip(clip, spec));
    const auto result = run({ QIR_REPLAY_TOOL, clip, "--quiet", "--summary-json", dir.file("s.json") }, dir);
    ASSERT_EQ(result.exit_code, 0) << result.out << result.err;
    const nlohmann::json summary = readJson(dir.file("s.json"));
    const auto& c = summary["channels"][0];
    EXPECT_EQ(c["checksumsMatched"], 6);
    EXPECT_EQ(c["framesTimed"], 6);
    // Small frames decode far ahead of their times; the first one waits for
    // the decoder to start, a lead before it plays, which is no falling behind.
    EXPECT_EQ(c["framesNotDecodedInTime"], 0);
    // Never before their times; after them by no more than the latest frame
    // was late (generous: a busy machine may make frames late).
    const double played =
        static_cast<double>(c["lastFramePlayedNs"].get<uint64_t>() - c["firstFramePlayedNs"].get<uint64_t>());
    EXPECT_GE(played, 600 * kMs - 0.01 * kMs);
    EXPECT_LE(played, 600 * kMs + c["lateMaxMs"].get<double>() * kMs + 0.01 * kMs);
}

TEST(VideoReplay, StreamPicksTheSecondVideoStreamAndAWrittenGraphPlaysIt)
{
    TempDir dir;
    const std::string clip = dir.file("two.mkv");
    qir::video::ClipSpec spec = qir::video::test::clipSpec("ffv1", 4);
    spec.streams = 2;
    ASSERT_NO_FATAL_FAILURE(qir::video::test::writeTestClip(clip, spec));
    const auto result = run({ QIR_REPLAY_TOOL, clip, "--stream", "1", "--pixel-format", "gray8", "--quiet" }, dir);
    ASSERT_EQ(result.exit_code, 0) << result.out << result.err;
    EXPECT_NE(result.out.find("verdict: every frame arrived complete"), std::string::npos) << result.out;

    const std::string graph = dir.file("replay.toml");
    const auto written = run(
        { QIR_REPLAY_TOOL, clip, "--stream", "1", "--pixel-format", "gray8", "--quiet", "--write-graph", graph }, dir);
    ASSERT_EQ(written.exit_code, 0) << written.out << written.err;
    const std::string text = qir::data_types::test::read_file(graph);
    EXPECT_NE(text.find("model = \"QirVideoPlayer\""), std::string::npos) << text;
    EXPECT_NE(text.find("PixelFormat = \"gray8\", Stream = 1"), std::string::npos) << text;
    const std::vector<uint64_t> sums = qir::replay::test::checksumsOfWrittenGraph(graph, 4, dir);
    qir::video::VideoChoice choice;
    choice.stream = 1;
    choice.pixels = qir::video::VideoPixelFormat::Gray8;
    const auto recording = qir::replay::Recording::open(clip, std::nullopt, {}, false, {}, choice);
    ASSERT_EQ(sums.size(), 4u);
    for (size_t f = 0; f < 4; ++f)
        EXPECT_EQ(sums[f], recording.sentChecksum(f)) << "frame " << f;
}

TEST(VideoReplay, CheckShowsTheFiguresAndTheBandwidthOfThePixelFormat)
{
    TempDir dir;
    const std::string clip = dir.file("clip.mkv");
    ASSERT_NO_FATAL_FAILURE(
        generate({ "video", "--width", "320", "--height", "240", "--frames", "25", "--fps", "25" }, clip, dir));
    const auto result = run({ QIR_REPLAY_TOOL, "check", clip, "--pixel-format", "gray16le" }, dir);
    ASSERT_EQ(result.exit_code, 0) << result.out << result.err;
    for (const std::string& line : std::vector<std::string>{
             clip + ": video, 25 frames, ", "  container: matroska,webm, stream 0 (1 video stream), codec ffv1\n",
             "  geometry: 320 x 240 pixels, yuv420p; sent as gray16le: 1 channel of 16 bits, lines of 640 bytes\n",
             "  frames: 25 decoded, frame rate 25.000 frames/s (container), duration 1.000 s (container)\n",
             // 640 bytes x 240 lines x 25 frames/s
             "  data rate: 3.8 MB/s (0.031 Gbit/s)", "  unit FIFO: 240 entries per frame", "  ready to replay\n" })
        EXPECT_NE(result.out.find(line), std::string::npos) << "missing: " << line << "\n" << result.out;
}

TEST(VideoReplay, ADamagedFileIsOneLineNamingTheFrameOrReplaysUpToItWithKeepGoing)
{
    TempDir dir;
    const std::string clip = dir.file("cut.avi");
    ASSERT_NO_FATAL_FAILURE(
        generate({ "video", "--codec", "mjpeg", "--width", "64", "--height", "48", "--frames", "20", "--fps", "25" },
                 clip, dir));
    qir::video::test::cutFile(clip, 0.6);
    const auto refused = run({ QIR_REPLAY_TOOL, clip, "--quiet" }, dir);
    EXPECT_EQ(refused.exit_code, 2) << refused.out << refused.err;
    ASSERT_EQ(qir::data_types::test::lines(refused.err).size(), 1u) << refused.err;
    EXPECT_EQ(refused.err.rfind("qir-replay: " + clip + ": frame ", 0), 0u) << refused.err;
    EXPECT_NE(refused.err.find("is damaged or cut short"), std::string::npos) << refused.err;
    const auto checked = run({ QIR_REPLAY_TOOL, "check", clip }, dir);
    EXPECT_EQ(checked.exit_code, 2) << checked.out << checked.err;

    const auto kept = run(
        { QIR_REPLAY_TOOL, clip, "--quiet", "--keep-going", "--allow-damage", "--summary-json", dir.file("s.json") },
        dir);
    ASSERT_EQ(kept.exit_code, 0) << kept.out << kept.err;
    const nlohmann::json summary = readJson(dir.file("s.json"));
    const auto& c = summary["channels"][0];
    EXPECT_GT(c["checksumsMatched"].get<uint64_t>(), 0u);
    EXPECT_EQ(c["checksumsMatched"], c["framesToSend"]);
    EXPECT_LT(c["framesToSend"].get<uint64_t>(), 20u);
}

} // namespace

namespace {

TEST(VideoReplay, AnUnknownPixelFormatOrAMissingStreamIsBadInput)
{
    TempDir dir;
    const std::string clip = dir.file("clip.mkv");
    ASSERT_NO_FATAL_FAILURE(
        generate({ "video", "--width", "32", "--height", "16", "--frames", "2", "--fps", "25" }, clip, dir));
    const auto layout = run({ QIR_REPLAY_TOOL, clip, "--pixel-format", "rgb32" }, dir);
    EXPECT_EQ(layout.exit_code, 2) << layout.out << layout.err;
    EXPECT_NE(layout.err.find("--pixel-format"), std::string::npos) << layout.err;
    const auto stream = run({ QIR_REPLAY_TOOL, "check", clip, "--stream", "1" }, dir);
    EXPECT_EQ(stream.exit_code, 2) << stream.out << stream.err;
    EXPECT_EQ(stream.err, "qir-replay: " + clip + ": stream 1 is no video stream (video streams: 0)\n");
}

} // namespace

// Clips the machine's ffmpeg program writes (where it is installed): the
// layouts of other writers than ours.
namespace {

/// True when an ffmpeg program is on PATH.
bool hasFfmpegProgram()
{
    const char* path = std::getenv("PATH");
    std::string_view rest = path ? path : "";
    while (!rest.empty()) {
        const size_t colon = rest.find(':');
        const std::string dir(rest.substr(0, colon));
        rest = colon == std::string_view::npos ? std::string_view() : rest.substr(colon + 1);
        if (::access(((dir.empty() ? std::string(".") : dir) + "/ffmpeg").c_str(), X_OK) == 0)
            return true;
    }
    return false;
}

struct FfmpegCase {
    std::string name;
    std::string encoder;             ///< FFmpeg's video encoder the clip needs
    std::vector<std::string> ffmpeg; ///< ffmpeg's arguments before the output file
    std::string file;
    std::vector<std::string> replay; ///< qir-replay's arguments after the file
    int stream;                      ///< the video stream replayed
};

void PrintTo(const FfmpegCase& c, std::ostream* os)
{
    *os << c.name;
}

class FfmpegProgramClip : public ::testing::TestWithParam<FfmpegCase> { };

// Ten frames of FFmpeg's test picture, 64x48 at 10 frames/s.
const std::string kTestPicture = "testsrc=size=64x48:rate=10:duration=1";

TEST_P(FfmpegProgramClip, EveryFrameArrivesCompleteWithTheDecodedFramesChecksum)
{
    const FfmpegCase& c = GetParam();
    if (!hasFfmpegProgram())
        GTEST_SKIP() << "no ffmpeg program on PATH";
    if (!qir::video::hasEncoder(c.encoder))
        GTEST_SKIP() << "FFmpeg here has no " << c.encoder << " encoder";
    TempDir dir;
    const std::string clip = dir.file(c.file);
    std::vector<std::string> ffmpeg = { "ffmpeg", "-v", "error", "-nostdin" };
    ffmpeg.insert(ffmpeg.end(), c.ffmpeg.begin(), c.ffmpeg.end());
    ffmpeg.insert(ffmpeg.end(), { "-y", clip });
    const auto made = run(ffmpeg, dir);
    ASSERT_EQ(made.exit_code, 0) << made.start_error << made.err;

    std::vector<std::string> args = { QIR_REPLAY_TOOL, clip, "--quiet", "--summary-json", dir.file("s.json") };
    args.insert(args.end(), c.replay.begin(), c.replay.end());
    const auto result = run(args, dir);
    ASSERT_EQ(result.exit_code, 0) << result.out << result.err;
    const nlohmann::json summary = readJson(dir.file("s.json"));
    const auto& channel = summary["channels"][0];
    EXPECT_EQ(channel["framesToSend"], 10);
    EXPECT_EQ(channel["framesComplete"], 10);
    EXPECT_EQ(channel["framesIncomplete"], 0);
    EXPECT_EQ(channel["checksumsMatched"], 10);

    qir::video::VideoChoice choice;
    choice.stream = c.replay.empty() ? -1 : c.stream;
    const auto recording = qir::replay::Recording::open(clip, std::nullopt, {}, false, {}, choice);
    EXPECT_EQ(recording.videoStream().stream, c.stream);
    ASSERT_EQ(recording.frames().size(), 10u);
    for (size_t f = 0; f < 10; ++f)
        EXPECT_EQ(recording.frames()[f].timeUs, f * 100000) << "frame " << f;
}

INSTANTIATE_TEST_SUITE_P(Clips, FfmpegProgramClip,
                         ::testing::Values(FfmpegCase{ "AudioStreamBeforeTheVideoInMp4",
                                                       "mpeg4",
                                                       { "-f", "lavfi", "-i", "sine=frequency=440:duration=1", "-f",
                                                         "lavfi", "-i", kTestPicture, "-map", "0:a", "-map", "1:v",
                                                         "-c:a", "aac", "-c:v", "mpeg4" },
                                                       "audio-first.mp4",
                                                       {},
                                                       1 },
                                           FfmpegCase{ "H265InMp4",
                                                       "libx265",
                                                       { "-f", "lavfi", "-i", kTestPicture, "-c:v", "libx265",
                                                         "-x265-params", "log-level=error" },
                                                       "h265.mp4",
                                                       {},
                                                       0 },
                                           FfmpegCase{ "SecondOfTwoVideoStreamsInMatroska",
                                                       "ffv1",
                                                       { "-f", "lavfi", "-i", kTestPicture, "-f", "lavfi", "-i",
                                                         "smptebars=size=64x48:rate=10:duration=1", "-map", "0:v",
                                                         "-map", "1:v", "-c:v", "ffv1" },
                                                       "two.mkv",
                                                       { "--stream", "1" },
                                                       1 }),
                         [](const auto& tested) { return tested.param.name; });

} // namespace
