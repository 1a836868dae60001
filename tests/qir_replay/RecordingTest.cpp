// The recording index: generated recordings of each form read back with
// the checksums a unit reports, and damaged files refused with the file and
// the byte offset of the damage, never read outside the file.
#include "GrabberFrameBuilder.h"
#include "KOVAQirRecordingPlayer.h"
#include "Recording.h"
#include "RecordingGenerator.h"
#include "ToolRunner.h"
#include "unit_client/csi2/GrabberImageHeader.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <sys/stat.h>

namespace {

using qir::data_types::test::TempDir;
using qir::gen::GenFormat;
using qir::gen::GenSpec;
using qir::replay::Recording;
using qir::replay::RecordingError;
using qir::replay::RecordingFormat;

std::vector<uint8_t> readBytes(const std::string& path)
{
    const std::string text = qir::data_types::test::read_file(path);
    return { text.begin(), text.end() };
}

GenSpec grabberSpec(uint32_t frames = 3)
{
    GenSpec spec;
    spec.width = 64;
    spec.height = 10;
    spec.frames = frames;
    spec.fps = 25;
    return spec;
}

GenSpec rawSpec(bool mono, uint32_t frames = 3)
{
    GenSpec spec;
    spec.format = GenFormat::Raw;
    spec.rawMono = mono;
    spec.width = 32;
    spec.height = 8;
    spec.frames = frames;
    return spec;
}

struct FormCase {
    std::string name;
    GenSpec spec;
};

class GeneratedRecording : public ::testing::TestWithParam<FormCase> { };

TEST_P(GeneratedRecording, IsRecognisedIndexedAndTimedAsWritten)
{
    TempDir dir;
    const GenSpec& spec = GetParam().spec;
    const std::string path = dir.file("rec.bin");
    ASSERT_EQ(qir::gen::generateRecording(spec, path, {}), spec.frames);

    const Recording recording = Recording::open(
        path, std::nullopt, spec.rawMono ? qir::replay::RawPixelFormat::Mono : qir::replay::RawPixelFormat::Yuv422);
    const bool grabber = spec.format == GenFormat::Grabber;
    EXPECT_EQ(recording.format(), grabber ? RecordingFormat::Grabber : RecordingFormat::Raw);
    ASSERT_EQ(recording.frames().size(), spec.frames);
    EXPECT_EQ(recording.totalBytes(), qir::gen::genFrameBytes(spec) * spec.frames);
    EXPECT_EQ(recording.hasShortPackets(), spec.shortPackets);
    const qir::replay::SendShape shape = recording.sendShape();
    EXPECT_EQ(shape.height, spec.height);
    for (size_t f = 0; f < spec.frames; ++f) {
        EXPECT_EQ(recording.frames()[f].size, qir::gen::genFrameBytes(spec));
        if (grabber) {
            EXPECT_EQ(recording.frames()[f].timeUs, spec.startNs / 1000 + f * 1'000'000 / 25);
        }
    }
    if (grabber) {
        EXPECT_EQ(shape.width, spec.width * spec.bpp / 8 + 6); // CSI-2 header and checksum around the payload
        for (const auto& info : recording.grabberInfo()) {
            EXPECT_EQ(info.eccErrors, 0u);
            EXPECT_EQ(info.checksumErrors, 0u);
        }
    } else {
        EXPECT_EQ(recording.width(), spec.width);
        EXPECT_EQ(shape.width, spec.width * (spec.rawMono ? 2 : 3));
    }
}

// Raw frames' checksums are checked end to end through the image converter
// (ReplayProgramTest); grabber frames' against the frame builders here.
class GeneratedGrabberRecording : public ::testing::TestWithParam<FormCase> { };

TEST_P(GeneratedGrabberRecording, HasTheChecksumsTheFrameBuildersGive)
{
    const GenSpec& spec = GetParam().spec;
    TempDir dir;
    const std::string path = dir.file("rec.bin");
    qir::gen::generateRecording(spec, path, {});
    const Recording recording = Recording::open(path);

    vxqir::frames::GrabberFrameSpec built;
    built.wordCount = static_cast<uint16_t>(spec.width * spec.bpp / 8);
    built.longPackets = static_cast<uint16_t>(spec.height);
    built.bpp = static_cast<uint8_t>(spec.bpp);
    built.frameStart = built.frameEnd = spec.shortPackets;
    const vxqir::frames::Csi2SendOptions send{ .skipPreamble = true, .skipShortPackets = spec.shortPackets };
    for (uint32_t f = 0; f < spec.frames; ++f)
        EXPECT_EQ(recording.sentChecksum(f),
                  vxqir::frames::grabberSentChecksum(vxqir::frames::buildGrabberFrame(built, f), send))
            << "frame " << f;
}

FormCase shortPacketsAt12Bits()
{
    GenSpec spec = grabberSpec();
    spec.shortPackets = true;
    spec.bpp = 12;
    spec.width = 66; // 99 payload bytes: records padded to whole 12-bit pixels
    return { "GrabberWithShortPacketsAt12Bits", spec };
}

INSTANTIATE_TEST_SUITE_P(Forms, GeneratedRecording,
                         ::testing::Values(FormCase{ "Grabber", grabberSpec() }, shortPacketsAt12Bits(),
                                           FormCase{ "RawYuv422", rawSpec(false) },
                                           FormCase{ "RawMono", rawSpec(true) }),
                         [](const auto& param) { return param.param.name; });
INSTANTIATE_TEST_SUITE_P(Forms, GeneratedGrabberRecording,
                         ::testing::Values(FormCase{ "Grabber", grabberSpec() }, shortPacketsAt12Bits()),
                         [](const auto& param) { return param.param.name; });

// ---------------------------------------------------------------------------

struct DamageCase {
    std::string name;
    bool grabber;
    std::function<void(std::vector<uint8_t>&, size_t frameBytes)> damage;
    std::function<size_t(size_t frameBytes)> offset; ///< of the damage the error must name
    std::string cause;                               ///< a fragment of the error's text
};

void PrintTo(const DamageCase& c, std::ostream* os)
{
    *os << c.name;
}

class DamagedRecording : public ::testing::TestWithParam<DamageCase> { };

TEST_P(DamagedRecording, IsRefusedNamingTheFileAndTheByteOffset)
{
    const DamageCase& c = GetParam();
    TempDir dir;
    const std::string path = dir.file("rec.bin");
    const GenSpec spec = c.grabber ? grabberSpec() : rawSpec(false);
    qir::gen::generateRecording(spec, path, {});
    std::vector<uint8_t> bytes = readBytes(path);
    const auto frameBytes = static_cast<size_t>(qir::gen::genFrameBytes(spec));
    c.damage(bytes, frameBytes);
    qir::data_types::test::write_file(path, bytes);

    try {
        Recording::open(path, c.grabber ? RecordingFormat::Grabber : RecordingFormat::Raw);
        FAIL() << "the damaged recording was accepted";
    } catch (const RecordingError& error) {
        const std::string text = error.what();
        EXPECT_EQ(text.rfind(path + ": byte " + std::to_string(c.offset(frameBytes)) + ": ", 0), 0u) << text;
        EXPECT_NE(text.find(c.cause), std::string::npos) << text;
    }
}

void putU32(std::vector<uint8_t>& bytes, size_t at, uint32_t value)
{
    std::memcpy(bytes.data() + at, &value, sizeof value);
}

INSTANTIATE_TEST_SUITE_P(
    Damage, DamagedRecording,
    ::testing::Values(DamageCase{ "GrabberCutInsideTheSecondFrame", true,
                                  [](auto& b, size_t n) { b.resize(n + n / 2); }, [](size_t n) { return n; },
                                  "runs past the end" },
                      DamageCase{ "GrabberCutInsideAHeader", true, [](auto& b, size_t n) { b.resize(2 * n + 20); },
                                  [](size_t n) { return 2 * n; }, "cut short (20 of 64 bytes)" },
                      DamageCase{ "GrabberFrameSizeBelowTheHeader", true, [](auto& b, size_t n) { putU32(b, n, 10); },
                                  [](size_t n) { return n; }, "below 64" },
                      DamageCase{ "GrabberFrameSizeTooSmallForItsRecords", true,
                                  [](auto& b, size_t n) { putU32(b, n, 200); }, [](size_t n) { return n + 64; },
                                  "runs past the grabber frame" },
                      DamageCase{ "GrabberRecordWithoutPreamble", true, [](auto& b, size_t n) { b[2 * n + 64] = 0; },
                                  [](size_t n) { return 2 * n + 64; }, "lacks its preamble" },
                      DamageCase{ "RawCutInsideTheLastFrame", false, [](auto& b, size_t n) { b.resize(3 * n - 1); },
                                  [](size_t n) { return 2 * n; }, "runs past the end" },
                      DamageCase{ "RawWordsOf12Bits", false, [](auto& b, size_t n) { b[n + 10] = 12; },
                                  [](size_t n) { return n + 10; }, "12-bit words" },
                      DamageCase{ "RawFrameOfAnotherGeometry", false,
                                  [](auto& b, size_t n) {
                                      b[n + 12] = 4; // 4 lines of twice the width
                                  },
                                  [](size_t n) { return n; }, "after frames of 32x8" },
                      DamageCase{ "RawFrameSizeWithoutPixels", false, [](auto& b, size_t n) { putU32(b, n, 64); },
                                  [](size_t n) { return n; }, "leaves no pixels" }),
    [](const auto& param) { return param.param.name; });

TEST(RecordingFiles, EmptyUnknownAndMissingFilesAreRefusedWithTheirName)
{
    TempDir dir;
    const std::string empty = dir.file("empty.bin");
    qir::data_types::test::write_file(empty, {});
    EXPECT_THROW(
        {
            try {
                Recording::open(empty);
            } catch (const RecordingError& e) {
                EXPECT_EQ(std::string(e.what()), empty + ": byte 0: the file is empty");
                throw;
            }
        },
        RecordingError);

    const std::string unknown = dir.file("unknown.bin");
    qir::data_types::test::write_file(unknown, std::vector<uint8_t>(500, 0x41));
    EXPECT_THROW(
        {
            try {
                Recording::open(unknown);
            } catch (const RecordingError& e) {
                EXPECT_NE(std::string(e.what()).find(unknown + ": byte 0: neither"), std::string::npos) << e.what();
                throw;
            }
        },
        RecordingError);

    EXPECT_THROW(Recording::open(dir.file("missing.bin")), RecordingError);
    EXPECT_THROW(Recording::open(dir.file("")), RecordingError); // the directory itself
}

TEST(RecordingFiles, KeepGoingKeepsTheWholeFramesBeforeDamageButNotAnEmptyIndex)
{
    TempDir dir;
    const std::string path = dir.file("rec.bin");
    const GenSpec spec = rawSpec(true);
    qir::gen::generateRecording(spec, path, {});
    std::vector<uint8_t> bytes = readBytes(path);
    const auto frameBytes = static_cast<size_t>(qir::gen::genFrameBytes(spec));
    bytes[2 * frameBytes + 10] = 8; // the third frame claims 8-bit words
    qir::data_types::test::write_file(path, bytes);

    const Recording kept = Recording::open(path, std::nullopt, qir::replay::RawPixelFormat::Mono, true);
    EXPECT_EQ(kept.frames().size(), 2u);
    EXPECT_EQ(kept.damage(),
              path + ": byte " + std::to_string(2 * frameBytes + 10) + ": raw frame of 8-bit words (16 are read)");

    bytes[10] = 8; // now the first frame is damaged too: nothing to replay
    qir::data_types::test::write_file(path, bytes);
    EXPECT_THROW(Recording::open(path, RecordingFormat::Raw, qir::replay::RawPixelFormat::Mono, true), RecordingError);
}

TEST(RecordingFiles, CsiChecksumAndEccDamageIsCountedNotRefused)
{
    TempDir dir;
    const std::string path = dir.file("rec.bin");
    const GenSpec spec = grabberSpec();
    qir::gen::generateRecording(spec, path, {});
    std::vector<uint8_t> bytes = readBytes(path);
    bytes[64 + 4 + 3] ^= 0xFF;     // first packet's ECC byte
    bytes[64 + 4 + 4 + 5] ^= 0x01; // a payload byte of the first packet
    qir::data_types::test::write_file(path, bytes);
    const Recording recording = Recording::open(path);
    EXPECT_EQ(recording.grabberInfo()[0].eccErrors, 1u);
    EXPECT_EQ(recording.grabberInfo()[0].checksumErrors, 1u);
    EXPECT_EQ(recording.grabberInfo()[1].checksumErrors, 0u);
}

// ---------------------------------------------------------------------------

TEST(PlayerTimes, LoopsFollowOnAndRateScalesFromTheFirstFrame)
{
    std::vector<qir::replay::FrameEntry> frames = { { 0, 1, 5'000'000 }, { 0, 1, 5'040'000 }, { 0, 1, 5'080'000 } };
    using P = KOVAQirRecordingPlayer;
    // Recorded times; a second pass starts one mean period after the last frame.
    EXPECT_EQ(P::FrameTimeUs(frames, 0.0, 1.0, 2, 0), 5'080'000u);
    EXPECT_EQ(P::FrameTimeUs(frames, 0.0, 1.0, 0, 1), 5'120'000u);
    EXPECT_EQ(P::FrameTimeUs(frames, 0.0, 2.0, 2, 0), 5'040'000u);
    EXPECT_EQ(P::FrameTimeUs(frames, 0.0, 0.5, 1, 0), 5'080'000u);
    // A frame rate: frame i at i / fps, passes back to back.
    EXPECT_EQ(P::FrameTimeUs(frames, 25.0, 1.0, 2, 0), 80'000u);
    EXPECT_EQ(P::FrameTimeUs(frames, 25.0, 1.0, 0, 2), 240'000u);
}

} // namespace

namespace {

/// Sets the file's modification time, leaving the other times.
void setModified(const std::string& path, timespec when)
{
    const timespec times[2] = { { .tv_sec = 0, .tv_nsec = UTIME_OMIT }, when };
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

} // namespace

// A grabber stream checked whole is indexed from its frame headers while it
// stays unchanged: the same frames, times and geometry; a changed file is
// checked again, and the frame headers are bounds-checked either way.
TEST(CheckedRecording, IsIndexedFromItsHeadersOnlyWhileUnchanged)
{
    TempDir dir;
    const std::string path = dir.file("rec.grab");
    qir::gen::generateRecording(grabberSpec(5), path, {});
    setModified(path, { .tv_sec = 1'700'000'000, .tv_nsec = 123 });
    const Recording whole = Recording::open(path);
    ASSERT_FALSE(whole.fingerprint().empty());
    EXPECT_FALSE(whole.trustedIndex());

    qir::replay::OpenOptions options;
    options.checked = whole.fingerprint();
    const Recording trusted = Recording::open(path, options);
    EXPECT_TRUE(trusted.trustedIndex());
    EXPECT_TRUE(trusted.grabberInfo().empty());
    ASSERT_EQ(trusted.frames().size(), whole.frames().size());
    for (size_t i = 0; i < whole.frames().size(); ++i) {
        EXPECT_EQ(trusted.frames()[i].offset, whole.frames()[i].offset);
        EXPECT_EQ(trusted.frames()[i].timeUs, whole.frames()[i].timeUs);
    }
    EXPECT_EQ(trusted.width(), whole.width());
    EXPECT_EQ(trusted.height(), whole.height());
    EXPECT_EQ(trusted.bpp(), whole.bpp());
    EXPECT_EQ(trusted.largestFrame(), whole.largestFrame());

    // Another modification time: checked whole again.
    setModified(path, { .tv_sec = 1'700'000'001, .tv_nsec = 123 });
    const Recording changed = Recording::open(path, options);
    EXPECT_FALSE(changed.trustedIndex());
    EXPECT_EQ(changed.grabberInfo().size(), whole.frames().size());

    // Even a file that claims the fingerprint has its frame headers checked:
    // frame 2's frame_size running past the end is refused at its byte.
    std::vector<uint8_t> bytes = readBytes(path);
    const size_t third = whole.frames()[2].offset;
    const uint32_t huge = 0x7FFFFFF0;
    std::memcpy(bytes.data() + third + offsetof(MIPICSI2::sxpf_image_header_s, frame_size), &huge, sizeof huge);
    qir::data_types::test::write_file(path, bytes);
    setModified(path, { .tv_sec = 1'700'000'000, .tv_nsec = 123 });
    options.checked = Recording::open(path, std::nullopt, {}, true).fingerprint();
    try {
        Recording::open(path, options);
        ADD_FAILURE() << "a frame running past the end was taken";
    } catch (const RecordingError& error) {
        EXPECT_NE(std::string(error.what()).find("byte " + std::to_string(third) + ":"), std::string::npos)
            << error.what();
    }
}
