// Video files read in-process: each container and codec indexed with the
// times the container gives, the pixel layouts as the unit receives them,
// stream choice, and damage named by frame with exit-worthy errors.
#include "FrameChecksum.h"
#include "Recording.h"
#include "ToolRunner.h"
#include "VideoClips.h"
#include "VideoDecoder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <set>

namespace {

using qir::data_types::test::TempDir;
using qir::replay::Recording;
using qir::replay::RecordingError;
using qir::replay::RecordingFormat;
using qir::video::ClipSpec;
using qir::video::VideoChoice;
using qir::video::VideoPixelFormat;
using qir::video::test::ClipKind;
using qir::video::test::clipSpec;
using qir::video::test::writeTestClip;

VideoChoice pixelsChoice(VideoPixelFormat pixels)
{
    VideoChoice choice;
    choice.pixels = pixels;
    return choice;
}

VideoChoice streamChoice(int stream)
{
    VideoChoice choice;
    choice.stream = stream;
    return choice;
}

/// Checksums of every frame decoded again by a second decoder, lines
/// without their padding.
std::vector<uint64_t> decodedChecksums(const std::string& path, const VideoChoice& choice)
{
    qir::video::VideoDecoder decoder(path, choice);
    std::vector<uint64_t> sums;
    qir::video::DecodedFrame frame;
    while (decoder.next(frame)) {
        vxqir::frames::FrameChecksum sum;
        for (uint32_t row = 0; row < decoder.info().height; ++row)
            sum.update(std::span<const uint8_t>(frame.pixels).subspan(row * frame.stride, decoder.lineBytes()));
        sums.push_back(sum.value());
    }
    return sums;
}

std::string openError(const std::string& path, bool keepGoing = false)
{
    try {
        Recording::open(path, std::nullopt, {}, keepGoing);
    } catch (const RecordingError& error) {
        return error.what();
    }
    return "";
}

class VideoClip : public ::testing::TestWithParam<ClipKind> { };

TEST_P(VideoClip, IsRecognisedByContentWithEveryFrameAtItsContainerTime)
{
    const ClipKind& kind = GetParam();
    if (!qir::video::hasEncoder(kind.codec))
        GTEST_SKIP() << "FFmpeg here has no " << kind.codec << " encoder";
    TempDir dir;
    const std::string path = dir.file("clip" + kind.extension);
    ASSERT_NO_FATAL_FAILURE(writeTestClip(path, clipSpec(kind.codec, 20)));

    const Recording recording = Recording::open(path);
    EXPECT_EQ(recording.format(), RecordingFormat::Video);
    EXPECT_TRUE(recording.carriesTimes());
    ASSERT_EQ(recording.frames().size(), 20u);
    for (size_t f = 0; f < 20; ++f)
        EXPECT_EQ(recording.frames()[f].timeUs, f * 40000) << "frame " << f;
    EXPECT_EQ(recording.width(), 64u);
    EXPECT_EQ(recording.height(), 48u);
    EXPECT_EQ(recording.lineBytes(), 64u * 3); // bgr24 by default
    EXPECT_EQ(recording.sendShape().width, 64u * 3);
    EXPECT_EQ(recording.sendShape().height, 48u);
    EXPECT_NEAR(recording.videoStream().frameRate, 25.0, 0.01);

    // Decoding is repeatable: the frames decoded again (as the player does)
    // carry the checksums of the index, and every frame differs.
    const std::vector<uint64_t> again = decodedChecksums(path, {});
    ASSERT_EQ(again.size(), 20u);
    std::set<uint64_t> distinct;
    for (size_t f = 0; f < 20; ++f) {
        EXPECT_EQ(recording.sentChecksum(f), again[f]) << "frame " << f;
        distinct.insert(again[f]);
    }
    EXPECT_EQ(distinct.size(), 20u);
}

INSTANTIATE_TEST_SUITE_P(Containers, VideoClip, ::testing::ValuesIn(qir::video::test::clipKinds()),
                         [](const auto& tested) { return tested.param.name; });

struct LayoutCase {
    VideoPixelFormat format;
    const char* channelSeq;
    uint8_t channels;
    uint8_t depth;
    uint32_t lineBytes; ///< of a 64-pixel line
};

void PrintTo(const LayoutCase& c, std::ostream* os)
{
    *os << qir::video::pixelLayout(c.format).name;
}

class PixelLayouts : public ::testing::TestWithParam<LayoutCase> { };

TEST_P(PixelLayouts, SendWholeLinesOfTheLayoutsChannelsAndDepth)
{
    const LayoutCase& c = GetParam();
    const qir::video::PixelLayout& layout = qir::video::pixelLayout(c.format);
    EXPECT_EQ(qir::video::parseVideoPixelFormat(layout.name), c.format);
    EXPECT_EQ(layout.channelSeq, c.channelSeq);
    EXPECT_EQ(layout.channels, c.channels);
    EXPECT_EQ(layout.depth, c.depth);
    EXPECT_EQ(uint32_t{ layout.channels } * layout.depth / 8, layout.bytesPerPixel);

    TempDir dir;
    const std::string path = dir.file("clip.mkv");
    ASSERT_NO_FATAL_FAILURE(writeTestClip(path, clipSpec("ffv1", 3)));
    const Recording recording = Recording::open(path, std::nullopt, {}, false, {}, pixelsChoice(c.format));
    EXPECT_EQ(recording.lineBytes(), c.lineBytes);
    EXPECT_EQ(recording.sendShape().width, c.lineBytes);
    EXPECT_EQ(recording.largestFrame(), size_t{ c.lineBytes } * 48);
    // The layout changes the bytes sent, so the checksums.
    const Recording bgr = Recording::open(path);
    if (c.format != VideoPixelFormat::Bgr24) {
        EXPECT_NE(recording.sentChecksum(0), bgr.sentChecksum(0));
    }
}

INSTANTIATE_TEST_SUITE_P(Layouts, PixelLayouts,
                         ::testing::Values(LayoutCase{ VideoPixelFormat::Rgb24, "RGB", 3, 8, 192 },
                                           LayoutCase{ VideoPixelFormat::Bgr24, "BGR", 3, 8, 192 },
                                           LayoutCase{ VideoPixelFormat::Gray8, "GRAY", 1, 8, 64 },
                                           LayoutCase{ VideoPixelFormat::Gray16le, "GRAY", 1, 16, 128 },
                                           LayoutCase{ VideoPixelFormat::Yuyv422, "YUYV", 2, 8, 128 },
                                           LayoutCase{ VideoPixelFormat::Uyvy422, "UYVY", 2, 8, 128 }),
                         [](const auto& tested) {
                             return std::string(qir::video::pixelLayout(tested.param.format).name);
                         });

TEST(VideoLayouts, GrayAndColourOrderAgreeWithEachOther)
{
    // The same decoded frame in several layouts: RGB and BGR swap the
    // outer bytes, gray16le holds gray8 widened to 16 bits (rounded on its
    // own), and YUYV and
    // UYVY swap the bytes of each pair.
    TempDir dir;
    const std::string path = dir.file("clip.mkv");
    ASSERT_NO_FATAL_FAILURE(writeTestClip(path, clipSpec("ffv1", 1)));
    const auto frameOf = [&](VideoPixelFormat format) {
        qir::video::VideoDecoder decoder(path, pixelsChoice(format));
        qir::video::DecodedFrame frame;
        EXPECT_TRUE(decoder.next(frame));
        std::vector<uint8_t> lines;
        for (uint32_t row = 0; row < 48; ++row)
            lines.insert(lines.end(), frame.pixels.begin() + static_cast<ptrdiff_t>(row * frame.stride),
                         frame.pixels.begin() + static_cast<ptrdiff_t>(row * frame.stride + decoder.lineBytes()));
        return lines;
    };
    const auto rgb = frameOf(VideoPixelFormat::Rgb24);
    const auto bgr = frameOf(VideoPixelFormat::Bgr24);
    ASSERT_EQ(rgb.size(), 64u * 48 * 3);
    for (size_t p = 0; p < rgb.size(); p += 3) {
        ASSERT_EQ(rgb[p], bgr[p + 2]) << "pixel " << p / 3;
        ASSERT_EQ(rgb[p + 1], bgr[p + 1]) << "pixel " << p / 3;
    }
    const auto gray = frameOf(VideoPixelFormat::Gray8);
    const auto gray16 = frameOf(VideoPixelFormat::Gray16le);
    ASSERT_EQ(gray16.size(), gray.size() * 2);
    for (size_t p = 0; p < gray.size(); ++p)
        ASSERT_LE(std::abs(gray16[2 * p + 1] - gray[p]), 1) << "pixel " << p; // the high byte second
    const auto yuyv = frameOf(VideoPixelFormat::Yuyv422);
    const auto uyvy = frameOf(VideoPixelFormat::Uyvy422);
    ASSERT_EQ(yuyv.size(), uyvy.size());
    for (size_t p = 0; p < yuyv.size(); p += 2) {
        ASSERT_EQ(yuyv[p], uyvy[p + 1]) << "byte " << p;
        ASSERT_EQ(yuyv[p + 1], uyvy[p]) << "byte " << p;
    }
}

TEST(VideoLayouts, FourTwoTwoOfAnOddWidthIsRefused)
{
    TempDir dir;
    const std::string path = dir.file("odd.mkv");
    ASSERT_NO_FATAL_FAILURE(writeTestClip(path, [] {
        ClipSpec spec = clipSpec("rawvideo", 2);
        spec.width = 63;
        return spec;
    }()));
    try {
        Recording::open(path, std::nullopt, {}, false, {}, pixelsChoice(VideoPixelFormat::Uyvy422));
        FAIL() << "an odd width in 4:2:2 was taken";
    } catch (const RecordingError& error) {
        EXPECT_NE(std::string(error.what()).find("uyvy422 needs an even width, the video is 63 pixels wide"),
                  std::string::npos)
            << error.what();
    }
    EXPECT_EQ(Recording::open(path).width(), 63u); // 3 bytes a pixel are fine
}

TEST(VideoTimes, VariableFrameRateKeepsTheContainersTimes)
{
    TempDir dir;
    const std::vector<int64_t> times = { 0, 40000, 100000, 110000, 250000, 251000, 400000, 1000000 };
    for (const char* extension : { ".mkv", ".mov" }) {
        const std::string path = dir.file(std::string("vfr") + extension);
        ASSERT_NO_FATAL_FAILURE(writeTestClip(path, [&] {
            ClipSpec spec = clipSpec("ffv1", static_cast<uint32_t>(times.size()));
            spec.timesUs = times;
            return spec;
        }()));
        const Recording recording = Recording::open(path);
        ASSERT_EQ(recording.frames().size(), times.size()) << extension;
        for (size_t f = 0; f < times.size(); ++f)
            EXPECT_EQ(recording.frames()[f].timeUs, static_cast<uint64_t>(times[f])) << extension << " frame " << f;
    }
}

TEST(VideoStreams, StreamPicksOneOfSeveralVideoStreams)
{
    TempDir dir;
    const std::string path = dir.file("two.mkv");
    ASSERT_NO_FATAL_FAILURE(writeTestClip(path, [] {
        ClipSpec spec = clipSpec("ffv1", 4);
        spec.streams = 2;
        return spec;
    }()));
    const Recording best = Recording::open(path);
    const Recording second = Recording::open(path, std::nullopt, {}, false, {}, streamChoice(1));
    EXPECT_EQ(best.videoStream().videoStreams, 2);
    EXPECT_EQ(second.videoStream().stream, 1);
    ASSERT_EQ(second.frames().size(), 4u);
    EXPECT_EQ(second.sentChecksum(0), decodedChecksums(path, streamChoice(1)).at(0));
    EXPECT_NE(best.sentChecksum(0), second.sentChecksum(0)); // another picture
    try {
        Recording::open(path, std::nullopt, {}, false, {}, streamChoice(5));
        FAIL() << "stream 5 was taken";
    } catch (const RecordingError& error) {
        EXPECT_EQ(std::string(error.what()), path + ": stream 5 is no video stream (video streams: 0, 1)");
    }
}

/// Opens `path` as a player does with a checked fingerprint.
Recording openChecked(const std::string& path, const std::string& checked, const VideoChoice& choice = {})
{
    qir::replay::OpenOptions options;
    options.format = RecordingFormat::Video;
    options.checked = checked;
    options.video = choice;
    return Recording::open(path, options);
}

TEST(VideoIndex, ACheckedUnchangedFileTakesTheIndexOfALivingOpenWithoutDecodingIt)
{
    TempDir dir;
    const std::string path = dir.file("clip.mkv");
    ASSERT_NO_FATAL_FAILURE(writeTestClip(path, clipSpec("ffv1", 6)));
    std::optional<Recording> first(Recording::open(path));
    EXPECT_FALSE(first->trustedIndex());
    const std::string fingerprint = first->fingerprint();
    // Garbage of the same size under the same time: only an index that was
    // not decoded again still has the frames.
    const auto mtime = std::filesystem::last_write_time(path);
    const std::vector<uint8_t> clean = qir::video::test::fileBytes(path);
    qir::video::test::writeBytes(path, std::vector<uint8_t>(clean.size(), 0x5A));
    std::filesystem::last_write_time(path, mtime);
    // As qir-replay opens it again, and as its player does, naming the stream.
    for (const int stream : { -1, 0 }) {
        const Recording taken = openChecked(path, fingerprint, streamChoice(stream));
        EXPECT_TRUE(taken.trustedIndex());
        ASSERT_EQ(taken.frames().size(), 6u);
        EXPECT_EQ(taken.width(), first->width());
        EXPECT_EQ(taken.videoStream().codec, "ffv1");
        for (size_t f = 0; f < 6; ++f) {
            EXPECT_EQ(taken.frames()[f].timeUs, first->frames()[f].timeUs);
            EXPECT_EQ(taken.sentChecksum(f), first->sentChecksum(f));
        }
    }
    // Another layout has other checksums: it is decoded (and the garbage found).
    EXPECT_THROW(openChecked(path, fingerprint, pixelsChoice(VideoPixelFormat::Gray8)), RecordingError);
    // The index goes with the last Recording that holds it.
    first.reset();
    EXPECT_THROW(openChecked(path, fingerprint), RecordingError);

    // A file changed since (its time) is decoded again.
    qir::video::test::writeBytes(path, clean);
    const Recording again = Recording::open(path);
    std::filesystem::last_write_time(path, std::filesystem::last_write_time(path) + std::chrono::seconds(2));
    const Recording touched = openChecked(path, again.fingerprint());
    EXPECT_FALSE(touched.trustedIndex());
    EXPECT_EQ(touched.sentChecksum(5), again.sentChecksum(5));
}

struct DamageCase {
    std::string name;
    std::string extension;
    std::string codec;
    void (*damage)(const std::string& path);
    std::string expected; ///< in the error
    bool framesBefore;    ///< --keep-going keeps frames before the damage
};

void PrintTo(const DamageCase& c, std::ostream* os)
{
    *os << c.name;
}

class DamagedVideo : public ::testing::TestWithParam<DamageCase> { };

TEST_P(DamagedVideo, IsRefusedNamingTheFrameOrKeptUpToTheDamage)
{
    const DamageCase& c = GetParam();
    if (!qir::video::hasEncoder(c.codec))
        GTEST_SKIP() << "FFmpeg here has no " << c.codec << " encoder";
    TempDir dir;
    const std::string path = dir.file("clip" + c.extension);
    ASSERT_NO_FATAL_FAILURE(writeTestClip(path, clipSpec(c.codec, 30)));
    c.damage(path);
    const std::string error = openError(path);
    ASSERT_FALSE(error.empty()) << "the damaged file was taken";
    EXPECT_EQ(error.rfind(path + ": ", 0), 0u) << error;
    EXPECT_NE(error.find(c.expected), std::string::npos) << error;
    if (!c.framesBefore)
        return;
    const Recording kept = Recording::open(path, std::nullopt, {}, true);
    EXPECT_EQ(kept.damage(), error);
    EXPECT_GT(kept.frames().size(), 0u);
    EXPECT_LT(kept.frames().size(), 30u);
    const Recording whole = [&] {
        const std::string clean = dir.file("clean" + c.extension);
        writeTestClip(clean, clipSpec(c.codec, 30));
        return Recording::open(clean);
    }();
    for (size_t f = 0; f < kept.frames().size(); ++f)
        EXPECT_EQ(kept.sentChecksum(f), whole.sentChecksum(f)) << "frame " << f;
}

INSTANTIATE_TEST_SUITE_P(
    Damage, DamagedVideo,
    ::testing::Values(
        DamageCase{ "MatroskaCutShort", ".mkv", "ffv1", [](const std::string& p) { qir::video::test::cutFile(p, 0.6); },
                    "the file ends early", true },
        DamageCase{ "AviCutShort", ".avi", "mjpeg", [](const std::string& p) { qir::video::test::cutFile(p, 0.6); },
                    "is damaged or cut short", true },
        DamageCase{ "Mp4CutShort", ".mov", "mjpeg", [](const std::string& p) { qir::video::test::cutFile(p, 0.6); },
                    "byte 0: FFmpeg cannot read it as a video", false },
        DamageCase{ "MatroskaGarbledInTheMiddle", ".mkv", "ffv1",
                    [](const std::string& p) { qir::video::test::garbleMiddle(p, 400); }, "the container is damaged",
                    true },
        DamageCase{ "MjpegGarbledInTheMiddle", ".mov", "mjpeg",
                    [](const std::string& p) { qir::video::test::garbleMiddle(p, 400); }, "frame ", true },
        DamageCase{ "H264GarbledInTheMiddle", ".mp4", "libx264",
                    [](const std::string& p) { qir::video::test::garbleMiddle(p, 400); }, "frame ", true },
        DamageCase{ "NoFrames", ".avi", "ffv1",
                    [](const std::string& p) { qir::video::test::writeTestClip(p, clipSpec("ffv1", 0)); },
                    "video stream 0 (ffv1) holds no frame that decodes", false }),
    [](const auto& tested) { return tested.param.name; });

TEST(VideoFormat, ForcedVideoFormatRefusesAFileFFmpegCannotOpen)
{
    TempDir dir;
    const std::string path = dir.file("text.txt");
    qir::video::test::writeBytes(path, { 'h', 'e', 'l', 'l', 'o', '\n' });
    EXPECT_NE(openError(path).find("nor a video file"), std::string::npos);
    try {
        Recording::open(path, RecordingFormat::Video);
        FAIL() << "text was taken for a video";
    } catch (const RecordingError& error) {
        EXPECT_NE(std::string(error.what()).find(path + ": not a video FFmpeg can open"), std::string::npos)
            << error.what();
    }
    EXPECT_EQ(qir::replay::parseFormatName("video"), RecordingFormat::Video);
    EXPECT_EQ(qir::replay::formatName(RecordingFormat::Video), "video");
}

} // namespace
