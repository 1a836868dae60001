// Record files with Video records and image sequences, read in-process:
// generated ones are recognised, timed and checksummed as their source, and
// damaged ones are refused naming the file and the byte offset of the damage.
#include "ChunkFrameBuilder.h"
#include "FrameChecksum.h"
#include "ImageHeaders.h"
#include "Recording.h"
#include "RecordingGenerator.h"
#include "ToolRunner.h"
#include "data_types/BaseHeader.h"

#include <gtest/gtest.h>

#include <png.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <functional>
#include <tuple>

namespace {

using namespace std::string_literals;
using qir::data_types::test::read_file;
using qir::data_types::test::TempDir;
using qir::data_types::test::write_file;
using qir::gen::GenFormat;
using qir::gen::GenSpec;
using qir::replay::ImageHeaderError;
using qir::replay::Recording;
using qir::replay::RecordingError;
using qir::replay::RecordingFormat;

std::vector<uint8_t> readBytes(const std::string& path)
{
    const std::string text = read_file(path);
    return { text.begin(), text.end() };
}

std::vector<uint8_t> bytesOf(const std::string& text)
{
    return { text.begin(), text.end() };
}

GenSpec formSpec(GenFormat format, uint32_t bpp = 8)
{
    GenSpec spec;
    spec.format = format;
    spec.width = 24;
    spec.height = 6;
    spec.bpp = bpp;
    spec.frames = 4;
    spec.fps = 40;
    return spec;
}

/// The error text of opening `path`, or "" when it opened.
std::string openError(const std::string& path, std::optional<RecordingFormat> format = std::nullopt)
{
    try {
        Recording::open(path, format);
    } catch (const RecordingError& error) {
        return error.what();
    }
    return "";
}

/// Checksum of what the unit receives for frame `f` of a generated form,
/// from the source rather than from the file.
uint64_t sourceChecksum(const GenSpec& spec, const Recording& recording, uint32_t f)
{
    vxqir::frames::FrameChecksum sum;
    if (spec.format == GenFormat::Record) {
        vxqir::frames::ChunkFrameSpec chunks;
        chunks.dataChunks = static_cast<uint16_t>(spec.height);
        chunks.payloadBytes = static_cast<uint16_t>(spec.width * spec.bpp / 8);
        chunks.subType = MIPICSI2::SubType::RAW12;
        chunks.metaData = true;
        const auto first = vxqir::frames::buildChunkFrame(chunks, 0);
        return vxqir::frames::chunkSentChecksum(vxqir::frames::buildChunkFrame(chunks, f).bytes,
                                                vxqir::frames::ChunkSelection::fromFirstFrame(first.bytes));
    }
    if (spec.format == GenFormat::Jpeg) {
        // The file's bytes, then zeros up to `height` packets.
        const auto bytes = recording.frameBytes(f);
        sum.update(bytes);
        sum.updateZeros(size_t{ recording.codedPacketBytes() } * spec.height - bytes.size());
        return sum.value();
    }
    const uint32_t channels = spec.format == GenFormat::Pgm || (spec.format == GenFormat::Png && spec.bpp == 8) ? 1 : 3;
    std::vector<uint8_t> line(size_t{ spec.width } * channels);
    for (uint32_t y = 0; y < spec.height; ++y) {
        vxqir::frames::fillPattern(line, spec.pattern, f, y);
        sum.update(line);
    }
    return sum.value();
}

struct FormCase {
    std::string name;
    GenSpec spec;
    RecordingFormat format;
};

void PrintTo(const FormCase& c, std::ostream* os)
{
    *os << c.name;
}

class GeneratedForm : public ::testing::TestWithParam<FormCase> { };

TEST_P(GeneratedForm, IsRecognisedTimedAndChecksummedAsItsSource)
{
    const FormCase& c = GetParam();
    TempDir dir;
    const std::string path = dir.file("rec");
    ASSERT_EQ(qir::gen::generateRecording(c.spec, path, {}), c.spec.frames);

    const Recording recording = Recording::open(path);
    EXPECT_EQ(recording.format(), c.format);
    ASSERT_EQ(recording.frames().size(), c.spec.frames);
    EXPECT_TRUE(recording.carriesTimes());
    EXPECT_EQ(recording.width(), c.spec.width);
    EXPECT_EQ(recording.height(), c.spec.height);
    for (uint32_t f = 0; f < c.spec.frames; ++f) {
        EXPECT_EQ(recording.frames()[f].timeUs, 1'000'000u + static_cast<uint64_t>(std::llround(f * 1e6 / 40)))
            << "frame " << f;
        EXPECT_EQ(recording.sentChecksum(f), sourceChecksum(c.spec, recording, f)) << "frame " << f;
    }
    if (c.format == RecordingFormat::Record) {
        EXPECT_EQ(recording.skippedRecords(), c.spec.otherRecords ? c.spec.frames : 0u);
        const auto& video = recording.videoInfo().back().header;
        EXPECT_EQ(video.frame_counter, c.spec.frames - 1);
        EXPECT_EQ(video.pixel_format, 0x2C); // RAW12
        EXPECT_EQ(std::string(video.imager_type.data()), "QIRTEST");
        EXPECT_EQ(recording.sendShape().height, c.spec.height); // one line per data chunk
    }
}

GenSpec withOtherRecords(GenSpec spec)
{
    spec.otherRecords = true;
    return spec;
}

INSTANTIATE_TEST_SUITE_P(
    Forms, GeneratedForm,
    ::testing::Values(FormCase{ "RecordFile", formSpec(GenFormat::Record, 12), RecordingFormat::Record },
                      FormCase{ "RecordFileWithCanRecordsBetween", withOtherRecords(formSpec(GenFormat::Record, 12)),
                                RecordingFormat::Record },
                      FormCase{ "GrayPng", formSpec(GenFormat::Png, 8), RecordingFormat::Images },
                      FormCase{ "RgbPng", formSpec(GenFormat::Png, 24), RecordingFormat::Images },
                      FormCase{ "Pgm", formSpec(GenFormat::Pgm), RecordingFormat::Images },
                      FormCase{ "Ppm", formSpec(GenFormat::Ppm), RecordingFormat::Images },
                      FormCase{ "GrayJpeg", formSpec(GenFormat::Jpeg, 8), RecordingFormat::Jpeg },
                      FormCase{ "RgbJpeg", formSpec(GenFormat::Jpeg, 24), RecordingFormat::Jpeg }),
    [](const auto& param) { return param.param.name; });

// Record files ----------------------------------------------------------------

constexpr size_t kVideoOverhead = 37;

struct RecordDamage {
    std::string name;
    /// Damages the bytes of a 3-frame record file whose records are `n` bytes each.
    std::function<void(std::vector<uint8_t>& bytes, size_t n)> damage;
    std::function<size_t(size_t n)> offset; ///< the error must name this byte
    std::string cause;
    size_t framesKept; ///< with keepGoing (0: refused even then)
};

void PrintTo(const RecordDamage& c, std::ostream* os)
{
    *os << c.name;
}

void putU32(std::vector<uint8_t>& bytes, size_t at, uint32_t value)
{
    std::memcpy(bytes.data() + at, &value, sizeof value);
}

class DamagedRecordFile : public ::testing::TestWithParam<RecordDamage> { };

TEST_P(DamagedRecordFile, IsRefusedNamingTheByteAndKeepGoingKeepsTheWholeRecordsBefore)
{
    const RecordDamage& c = GetParam();
    TempDir dir;
    const std::string path = dir.file("rec.bin");
    const GenSpec spec = formSpec(GenFormat::Record, 12);
    qir::gen::GenSpec three = spec;
    three.frames = 3;
    qir::gen::generateRecording(three, path, {});
    std::vector<uint8_t> bytes = readBytes(path);
    const size_t n = bytes.size() / 3;
    c.damage(bytes, n);
    write_file(path, bytes);

    const std::string text = openError(path, RecordingFormat::Record);
    EXPECT_EQ(text.rfind(path + ": byte " + std::to_string(c.offset(n)) + ": ", 0), 0u) << text;
    EXPECT_NE(text.find(c.cause), std::string::npos) << text;
    if (c.framesKept == 0) {
        EXPECT_THROW(Recording::open(path, RecordingFormat::Record, {}, true), RecordingError);
    } else {
        const Recording kept = Recording::open(path, RecordingFormat::Record, {}, true);
        EXPECT_EQ(kept.frames().size(), c.framesKept);
        EXPECT_EQ(kept.damage(), text);
        for (size_t f = 0; f < kept.frames().size(); ++f)
            EXPECT_EQ(kept.frames()[f].offset, f * n + kVideoOverhead);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Damage, DamagedRecordFile,
    ::testing::Values(
        RecordDamage{ "CutInsideTheThirdRecord", [](auto& b, size_t n) { b.resize(2 * n + 50); },
                      [](size_t n) { return 2 * n; }, "truncated Video record", 2 },
        RecordDamage{ "CutInsideTheBaseHeader", [](auto& b, size_t n) { b.resize(n + 9); }, [](size_t n) { return n; },
                      "", 1 },
        RecordDamage{ "LengthDisagreesWithPayloadLength",
                      [](auto& b, size_t n) { putU32(b, n + 13, static_cast<uint32_t>(n - kVideoOverhead - 1)); },
                      [](size_t n) { return n; }, "payload_length", 1 },
        RecordDamage{ "ChunkLengthBelowItsHeader",
                      [](auto& b, size_t n) {
                          b[n + kVideoOverhead] = 0; // the first chunk's big-endian length: 2
                          b[n + kVideoOverhead + 1] = 2;
                      },
                      [](size_t n) { return n + kVideoOverhead; }, "chunk length below the 4-byte chunk header", 1 },
        RecordDamage{ "ChunkRunningPastTheContainer",
                      [](auto& b, size_t n) {
                          b[2 * n + kVideoOverhead] = 0xFF;
                          b[2 * n + kVideoOverhead + 1] = 0xF0;
                      },
                      [](size_t n) { return 2 * n + kVideoOverhead; }, "runs past the end of the container", 2 },
        RecordDamage{ "NegativeTimestampInTheFirstRecord", [](auto& b, size_t) { b[7] = 0x80; },
                      [](size_t) { return 0; }, "negative timestamp", 0 }),
    [](const auto& param) { return param.param.name; });

TEST(RecordFiles, OtherTypesAreSkippedAndAFileWithoutVideoRecordsIsRefused)
{
    TempDir dir;
    const std::string path = dir.file("rec.bin");
    GenSpec spec = withOtherRecords(formSpec(GenFormat::Record, 12));
    qir::gen::generateRecording(spec, path, {});
    std::vector<uint8_t> bytes = readBytes(path);
    const size_t n = bytes.size() / spec.frames;
    // An unknown type byte in the second CAN record is skipped like a known type.
    bytes[n + 8] = 0x77;
    write_file(path, bytes);
    const Recording recording = Recording::open(path);
    EXPECT_EQ(recording.frames().size(), spec.frames);
    EXPECT_EQ(recording.skippedRecords(), spec.frames);

    // Only the CAN records left: nothing to replay.
    const size_t can = 35;
    std::vector<uint8_t> onlyCan(bytes.begin(), bytes.begin() + can);
    write_file(path, onlyCan);
    EXPECT_EQ(openError(path), path + ": no Video record among its 1 records");
}

TEST(RecordFiles, RecorderFlagsAndWordCountsAreCountedNotRefused)
{
    TempDir dir;
    const std::string path = dir.file("rec.bin");
    const GenSpec spec = formSpec(GenFormat::Record, 12);
    qir::gen::generateRecording(spec, path, {});
    std::vector<uint8_t> bytes = readBytes(path);
    const Recording clean = Recording::open(path);
    // Walk frame 1's chunks: flag a header error on the first data chunk and
    // a payload error on the second.
    const size_t container = clean.frames()[1].offset;
    size_t at = container;
    int data = 0;
    while (data < 2) {
        const size_t length = size_t{ bytes[at] } << 8 | bytes[at + 1];
        const uint8_t type = bytes[at + 2];
        const uint8_t sub = bytes[at + 3];
        if (type != 128 && sub > 1) {
            if (data == 0)
                bytes[at + 4 + 8] = 1; // header_error_flags
            else
                bytes[at + length - 2] = 1; // payload_error_flags
            ++data;
        }
        at += length;
    }
    write_file(path, bytes);
    const Recording flagged = Recording::open(path);
    ASSERT_EQ(flagged.frames().size(), spec.frames);
    EXPECT_EQ(flagged.videoInfo()[1].eccErrors, 1u);
    EXPECT_EQ(flagged.videoInfo()[1].checksumErrors, 1u);
    EXPECT_EQ(flagged.videoInfo()[0].eccErrors + flagged.videoInfo()[0].checksumErrors, 0u);
    EXPECT_EQ(flagged.videoInfo()[1].dataChunks, spec.height);
    EXPECT_EQ(flagged.videoInfo()[1].payloadBytes, spec.width * 12 / 8);
}

// Image sequences ---------------------------------------------------------------

std::string pgm(uint32_t width, uint32_t height, const std::string& header = "")
{
    std::string text =
        header.empty() ? "P5\n" + std::to_string(width) + " " + std::to_string(height) + "\n255\n" : header;
    return text + std::string(size_t{ width } * height, '\x42');
}

TEST(ImageSequences, FilesAreSortedByNameAndTimesComeFromNamesOnlyWhenAllCarryOne)
{
    TempDir dir;
    const std::string seq = dir.file("seq");
    std::filesystem::create_directory(seq);
    write_file(seq + "/b_000000200us.pgm", bytesOf(pgm(4, 2)));
    write_file(seq + "/a_000000100us.pgm", bytesOf(pgm(4, 2)));
    write_file(seq + "/c_000000300us.PGM", bytesOf(pgm(4, 2)));
    write_file(seq + "/notes.txt", bytesOf("not an image"));
    const Recording timed = Recording::open(seq);
    EXPECT_EQ(timed.format(), RecordingFormat::Images);
    ASSERT_EQ(timed.frames().size(), 3u);
    EXPECT_EQ(timed.imageInfo()[0].name, "a_000000100us.pgm");
    EXPECT_EQ(timed.imageInfo()[2].name, "c_000000300us.PGM");
    EXPECT_TRUE(timed.carriesTimes());
    EXPECT_EQ(timed.frames()[1].timeUs, 200u);
    EXPECT_EQ(timed.skippedFiles(), 1u);

    write_file(seq + "/d.pgm", bytesOf(pgm(4, 2))); // no time in this name: all from --fps
    const Recording untimed = Recording::open(seq);
    EXPECT_FALSE(untimed.carriesTimes());
    EXPECT_EQ(untimed.frames()[1].timeUs, 0u);
}

TEST(ImageSequences, EmptyMixedAndMisnamedInputIsRefusedWithOneClearText)
{
    TempDir dir;
    const std::string seq = dir.file("seq");
    std::filesystem::create_directory(seq);
    write_file(seq + "/readme.txt", bytesOf("x"));
    EXPECT_EQ(openError(seq),
              seq +
                  ": no PNG, PGM, PPM or JPEG images (files named *.png, *.pgm, *.ppm, *.pnm, "
                  "*.jpg or *.jpeg)");

    write_file(seq + "/a.pgm", bytesOf(pgm(4, 2)));
    write_file(seq + "/b.jpg", bytesOf("\xFF\xD8\xFF\xE0"));
    EXPECT_NE(openError(seq).find(seq + "/b.jpg: byte 0: a JPEG file among PNG, PGM and PPM images"), std::string::npos)
        << openError(seq);
    EXPECT_NE(openError(seq, RecordingFormat::Record).find("a directory holds images"), std::string::npos);

    write_file(seq + "/b.jpg", bytesOf(pgm(6, 2))); // a PGM named .jpg, of another size
    EXPECT_NE(openError(seq).find(seq + "/b.jpg: byte 0: an image of 6 x 2 pixels, 1 channels after images of 4 x 2"),
              std::string::npos)
        << openError(seq);

    const std::string file = dir.file("one.pgm");
    write_file(file, bytesOf(pgm(4, 2)));
    EXPECT_EQ(openError(file, RecordingFormat::Images), file + ": images are read from a directory");
}

TEST(ImageSequences, AChunkTypeOfAnyBytesIsNamedAsPrintableText)
{
    TempDir dir;
    const std::string seq = dir.file("seq");
    GenSpec spec = formSpec(GenFormat::Png, 24);
    qir::gen::generateRecording(spec, seq, {});
    const Recording whole = Recording::open(seq);
    const std::string first = seq + "/" + whole.imageInfo()[0].name;
    std::vector<uint8_t> bytes = readBytes(first);
    // The type of the chunk after IHDR (at byte 33): a NUL, an ESC, a letter
    // and a backslash.
    bytes[37] = 0x00;
    bytes[38] = 0x1B;
    bytes[39] = 'a';
    bytes[40] = '\\';
    write_file(first, bytes);

    const std::string text = openError(seq);
    EXPECT_NE(text.find("PNG chunk \\x00\\x1Ba\\x5C "), std::string::npos) << text;
    EXPECT_TRUE(std::all_of(text.begin(), text.end(), [](char c) { return c >= 0x20 && c < 0x7F; })) << text;
}

TEST(ImageSequences, ADamagedImageNamesItsFileAndKeepGoingPlaysTheImagesBefore)
{
    TempDir dir;
    const std::string seq = dir.file("seq");
    GenSpec spec = formSpec(GenFormat::Png, 24);
    qir::gen::generateRecording(spec, seq, {});
    const Recording whole = Recording::open(seq);
    const std::string third = seq + "/" + whole.imageInfo()[2].name;
    std::vector<uint8_t> bytes = readBytes(third);
    bytes[40] ^= 0xFF; // inside the first chunk after IHDR
    write_file(third, bytes);

    const std::string text = openError(seq);
    EXPECT_EQ(text.rfind(third + ": byte 33: PNG chunk ", 0), 0u) << text;
    EXPECT_NE(text.find("fails its CRC"), std::string::npos) << text;
    const Recording kept = Recording::open(seq, std::nullopt, {}, true);
    EXPECT_EQ(kept.frames().size(), 2u);
    EXPECT_EQ(kept.sentChecksum(1), whole.sentChecksum(1));
}

TEST(ImageSequences, APngWithAlphaDecodesTheSameWhateverTheSampleBufferHeldBefore)
{
    TempDir dir;
    const std::string seq = dir.file("seq");
    std::filesystem::create_directory(seq);
    // 3 x 2 RGBA pixels, half transparent.
    std::vector<uint8_t> rgba(3 * 2 * 4);
    for (size_t i = 0; i < rgba.size(); ++i)
        rgba[i] = static_cast<uint8_t>(i % 4 == 3 ? 128 : 40 * i);
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = 3;
    image.height = 2;
    image.format = PNG_FORMAT_RGBA;
    ASSERT_TRUE(png_image_write_to_file(&image, (seq + "/a.png").c_str(), 0, rgba.data(), 0, nullptr));

    const Recording recording = Recording::open(seq);
    ASSERT_EQ(recording.channels(), 3u);
    // A sample buffer reused from an earlier frame holds other bytes.
    for (const uint8_t before : { uint8_t{ 0x00 }, uint8_t{ 0xFF } }) {
        std::vector<uint8_t> pixels(9 * 2, before);
        recording.decodeImage(0, pixels.data(), 9);
        vxqir::frames::FrameChecksum sum;
        sum.update(pixels);
        EXPECT_EQ(sum.value(), recording.sentChecksum(0)) << "buffer filled with " << int{ before };
    }
}

TEST(ImageSequences, PpmAndPgmPixelsLandOnTheirRowsWithAndWithoutRowPadding)
{
    TempDir dir;
    // 3 x 2 pixels: RGB lines of 9 bytes, gray lines of 3; neither a multiple of 4.
    for (const auto& [name, magic, channels] :
         { std::tuple{ "a.ppm", "P6", size_t{ 3 } }, std::tuple{ "b.pgm", "P5", size_t{ 1 } } }) {
        SCOPED_TRACE(name);
        const std::filesystem::path one = dir.file(std::string("one_") + name);
        std::filesystem::create_directory(one);
        std::vector<uint8_t> bytes;
        for (const char c : std::string(magic) + "\n3 2\n255\n")
            bytes.push_back(static_cast<uint8_t>(c));
        const size_t line = 3 * channels;
        for (size_t i = 0; i < 2 * line; ++i)
            bytes.push_back(static_cast<uint8_t>(11 * i + 1));
        write_file((one / name).string(), bytes);
        const Recording recording = Recording::open(one.string());
        const size_t pixelsAt = bytes.size() - 2 * line;
        for (const size_t stride : { line, line + 3 }) {
            std::vector<uint8_t> out(2 * stride, 0xEE);
            recording.decodeImage(0, out.data(), stride);
            for (size_t y = 0; y < 2; ++y) {
                EXPECT_TRUE(std::equal(out.begin() + static_cast<std::ptrdiff_t>(y * stride),
                                       out.begin() + static_cast<std::ptrdiff_t>(y * stride + line),
                                       bytes.begin() + static_cast<std::ptrdiff_t>(pixelsAt + y * line)))
                    << "row " << y << ", stride " << stride;
                for (size_t x = line; x < stride; ++x)
                    EXPECT_EQ(out[y * stride + x], 0xEE) << "padding of row " << y << " written";
            }
        }
    }
}

TEST(ImageSequences, JpegImagesGoOutAsHeightPacketsLargeEnoughForTheLargestImage)
{
    TempDir dir;
    const std::string seq = dir.file("seq");
    GenSpec spec = formSpec(GenFormat::Jpeg, 24);
    spec.pattern = vxqir::frames::BytePattern::Noise; // images of differing sizes
    qir::gen::generateRecording(spec, seq, {});
    const Recording jpeg = Recording::open(seq);
    const uint32_t packet = jpeg.codedPacketBytes();
    EXPECT_EQ(packet % 8, 0u);
    EXPECT_GE(uint64_t{ packet } * spec.height, jpeg.largestFrame());
    EXPECT_LT(uint64_t{ packet - 8 } * spec.height, jpeg.largestFrame()); // no larger than needed
    EXPECT_EQ(jpeg.sendShape().width, packet);
    EXPECT_EQ(jpeg.sendShape().height, spec.height);
}

// Header readers ------------------------------------------------------------------

struct HeaderCase {
    std::string name;
    std::string bytes;
    std::function<qir::replay::ImageGeometry(std::span<const uint8_t>)> read;
    uint32_t width = 0; ///< expected; 0 when the header must be refused
    uint32_t height = 0;
    uint8_t channels = 0;
    size_t errorOffset = 0;
    std::string cause; ///< a fragment of the refusal
};

void PrintTo(const HeaderCase& c, std::ostream* os)
{
    *os << c.name;
}

class ImageHeader : public ::testing::TestWithParam<HeaderCase> { };

TEST_P(ImageHeader, GivesTheGeometryOrTheOffsetOfWhatIsWrong)
{
    const HeaderCase& c = GetParam();
    const std::vector<uint8_t> bytes = bytesOf(c.bytes);
    if (c.width != 0) {
        const auto g = c.read(bytes);
        EXPECT_EQ(g.width, c.width);
        EXPECT_EQ(g.height, c.height);
        EXPECT_EQ(g.channels, c.channels);
        return;
    }
    try {
        c.read(bytes);
        FAIL() << "accepted";
    } catch (const ImageHeaderError& error) {
        EXPECT_EQ(error.offset(), c.errorOffset) << error.what();
        EXPECT_NE(std::string(error.what()).find(c.cause), std::string::npos) << error.what();
    }
}

const auto readPnm = [](std::span<const uint8_t> b) { return qir::replay::readPnmHeader(b); };
const auto readJpeg = [](std::span<const uint8_t> b) { return qir::replay::readJpegHeader(b); };

/// A JPEG skeleton: SOI, an APP0 segment, a start-of-frame `sof` of
/// `height` x `width` and 3 components, then EOI unless `cut`.
std::string jpeg(uint8_t sof, uint16_t height, uint16_t width, bool cut = false)
{
    std::string j = "\xFF\xD8\xFF\xE0";
    j += std::string("\x00\x06", 2) + "JFIF";
    j += "\xFF\xFF"; // a fill byte before the marker
    j += std::string(1, '\xFF') + static_cast<char>(sof);
    j += std::string("\x00\x11\x08", 3);
    j += static_cast<char>(height >> 8);
    j += static_cast<char>(height & 0xFF);
    j += static_cast<char>(width >> 8);
    j += static_cast<char>(width & 0xFF);
    j += std::string("\x03", 1) + std::string(9, '\x01');
    return cut ? j : j + "\xFF\xD9";
}

INSTANTIATE_TEST_SUITE_P(
    Headers, ImageHeader,
    ::testing::Values(
        HeaderCase{ "PgmWithComments", "P5 # made by hand\n4\n# rows\n2 255\n" + std::string(8, 'x'), readPnm, 4, 2, 1,
                    0, "" },
        HeaderCase{ "Ppm", "P6\n3 2\n200\n" + std::string(18, 'x'), readPnm, 3, 2, 3, 0, "" },
        HeaderCase{ "PgmOf16BitSamples", "P5\n4 2\n65535\n" + std::string(16, 'x'), readPnm, 0, 0, 0, 7,
                    "maximum value 65535" },
        HeaderCase{ "PgmOfTextSamples", "P2\n1 1\n255\n7\n", readPnm, 0, 0, 0, 0, "text samples" },
        HeaderCase{ "PgmCutInsideItsPixels", "P5\n4 2\n255\n" + std::string(7, 'x'), readPnm, 0, 0, 0, 18,
                    "pixels cut short: 7 of 8 bytes" },
        HeaderCase{ "PgmCutInsideItsHeader", "P5\n4 ", readPnm, 0, 0, 0, 5, "cut short before the height" },
        HeaderCase{ "PgmWithoutPixels", "P5\n0 2\n255\n", readPnm, 0, 0, 0, 0, "holds no pixels" },
        HeaderCase{ "PpmTooWideForTheUnit", "P6\n30000 1\n255\n", readPnm, 0, 0, 0, 0, "beyond the unit's" },
        HeaderCase{ "PgmSideBeyondSixteenBits", "P5\n99999999999 1\n255\n", readPnm, 0, 0, 0, 3, "above 65535" },
        HeaderCase{ "BaselineJpeg", jpeg(0xC0, 480, 640), readJpeg, 640, 480, 3, 0, "" },
        HeaderCase{ "ProgressiveJpeg", jpeg(0xC2, 2, 9000), readJpeg, 9000, 2, 3, 0, "" },
        HeaderCase{ "JpegCutShort", jpeg(0xC0, 480, 640, true), readJpeg, 0, 0, 0, 31, "no end-of-image marker" },
        HeaderCase{ "JpegHeightFromALaterMarker", jpeg(0xC0, 0, 640), readJpeg, 0, 0, 0, 17, "height 0" },
        HeaderCase{ "JpegScanBeforeFrameHeader", "\xFF\xD8\xFF\xDA\x00\x02\xFF\xD9"s, readJpeg, 0, 0, 0, 2,
                    "without a start-of-frame header" },
        HeaderCase{ "JpegSegmentPastTheEnd", "\xFF\xD8\xFF\xE0\x40\x00"s, readJpeg, 0, 0, 0, 2, "runs past the end" }),
    [](const auto& param) { return param.param.name; });

} // namespace
