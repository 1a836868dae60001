#include "FormGenerators.h"

#include "ChunkFrameBuilder.h"
#include "OutputFile.h"
#include "data_types/BaseHeader.h"
#include "data_types/CANHeader.h"
#include "data_types/VideoHeader.h"

#include <jpeglib.h>
#include <png.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <vector>

namespace qir::gen {

namespace {

using qir::data_types::BaseHeader;
using qir::data_types::CANHeader;
using qir::data_types::ChannelType;
using qir::data_types::VideoHeader;

constexpr uint8_t kCanPayload = 8;
constexpr size_t kCanRecordBytes = sizeof(BaseHeader) + sizeof(CANHeader) + kCanPayload;

MIPICSI2::SubType subTypeOfBpp(uint32_t bpp)
{
    switch (bpp) {
    case 8:
        return MIPICSI2::SubType::RAW8;
    case 10:
        return MIPICSI2::SubType::RAW10;
    case 12:
        return MIPICSI2::SubType::RAW12;
    case 14:
        return MIPICSI2::SubType::RAW14;
    case 16:
        return MIPICSI2::SubType::RAW16;
    default:
        return MIPICSI2::SubType::RAW20;
    }
}

vxqir::frames::ChunkFrameSpec chunkSpec(const GenSpec& spec)
{
    vxqir::frames::ChunkFrameSpec c;
    c.dataChunks = static_cast<uint16_t>(spec.height);
    c.payloadBytes = static_cast<uint16_t>(uint64_t{ spec.width } * spec.bpp / 8);
    c.subType = subTypeOfBpp(spec.bpp);
    c.metaData = true;
    c.width = static_cast<uint16_t>(spec.width);
    c.height = static_cast<uint16_t>(spec.height);
    c.pattern = spec.pattern;
    return c;
}

uint64_t frameTimeUs(const GenSpec& spec, uint32_t frame)
{
    return spec.startNs / 1000 + static_cast<uint64_t>(std::llround(frame * 1e6 / spec.fps));
}

uint32_t channelsOf(const GenSpec& spec)
{
    if (spec.format == GenFormat::Pgm)
        return 1;
    if (spec.format == GenFormat::Ppm)
        return 3;
    return spec.bpp == 8 ? 1 : 3;
}

const char* extensionOf(GenFormat format)
{
    switch (format) {
    case GenFormat::Png:
        return ".png";
    case GenFormat::Pgm:
        return ".pgm";
    case GenFormat::Ppm:
        return ".ppm";
    default:
        return ".jpg";
    }
}

template <typename T>
void put(std::vector<uint8_t>& out, const T& value)
{
    const auto* bytes = reinterpret_cast<const uint8_t*>(&value);
    out.insert(out.end(), bytes, bytes + sizeof value);
}

std::vector<uint8_t> encodePng(const GenSpec& spec, const std::vector<uint8_t>& pixels)
{
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = spec.width;
    image.height = spec.height;
    image.format = channelsOf(spec) == 1 ? PNG_FORMAT_GRAY : PNG_FORMAT_RGB;
    png_alloc_size_t size = 0;
    if (!png_image_write_to_memory(&image, nullptr, &size, 0, pixels.data(), 0, nullptr))
        throw qir::tools::OutputFileError(std::string("PNG encoding failed: ") + image.message);
    std::vector<uint8_t> out(size);
    if (!png_image_write_to_memory(&image, out.data(), &size, 0, pixels.data(), 0, nullptr))
        throw qir::tools::OutputFileError(std::string("PNG encoding failed: ") + image.message);
    out.resize(size);
    return out;
}

std::vector<uint8_t> encodeJpeg(const GenSpec& spec, std::vector<uint8_t>& pixels)
{
    jpeg_compress_struct cinfo{};
    jpeg_error_mgr errors{};
    cinfo.err = jpeg_std_error(&errors);
    jpeg_create_compress(&cinfo);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &buffer, &size);
    cinfo.image_width = spec.width;
    cinfo.image_height = spec.height;
    cinfo.input_components = static_cast<int>(channelsOf(spec));
    cinfo.in_color_space = channelsOf(spec) == 1 ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 90, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    const size_t line = size_t{ spec.width } * channelsOf(spec);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = pixels.data() + cinfo.next_scanline * line;
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    std::vector<uint8_t> out(buffer, buffer + size);
    jpeg_destroy_compress(&cinfo);
    std::free(buffer);
    return out;
}

/// A temporary directory removed with what it holds unless committed.
class TemporaryDirectory {
public:
    explicit TemporaryDirectory(const std::string& path)
        : final_(path)
        , path_(path + ".tmp-" + std::to_string(::getpid()))
    {
        std::error_code error;
        if (std::filesystem::exists(final_, error))
            throw qir::tools::OutputFileError(final_ +
                                              ": exists already; qir-gen writes an image sequence to a new directory");
        if (!std::filesystem::create_directory(path_, error))
            throw qir::tools::OutputFileError(
                path_ + ": cannot create the directory: " + (error ? error.message() : std::string("it exists")));
    }
    ~TemporaryDirectory()
    {
        if (!committed_) {
            std::error_code ignored;
            std::filesystem::remove_all(path_, ignored);
        }
    }
    TemporaryDirectory(const TemporaryDirectory&) = delete;
    TemporaryDirectory& operator=(const TemporaryDirectory&) = delete;

    std::string file(const std::string& name) const { return path_ + "/" + name; }
    void commit()
    {
        std::error_code error;
        std::filesystem::rename(path_, final_, error);
        if (error)
            throw qir::tools::OutputFileError(final_ + ": cannot rename the finished directory: " + error.message());
        committed_ = true;
    }

private:
    std::string final_;
    std::string path_;
    bool committed_ = false;
};

} // namespace

std::string checkFormSpec(const GenSpec& spec)
{
    if (spec.format == GenFormat::Record) {
        if (spec.bpp < 1 || spec.bpp > 64 || (uint64_t{ spec.width } * spec.bpp) % 8 != 0)
            return "--width x --bpp must be whole bytes (--bpp 1 to 64)";
        if (spec.width > 65535)
            return "--width must be at most 65535";
        const auto c = chunkSpec(spec);
        if (uint64_t{ spec.width } * spec.bpp / 8 > 65519)
            return "lines of --width x --bpp / 8 bytes are too long for one chunk";
        if (vxqir::frames::chunkFrameSize(c) > 12522429)
            return "a Video record of more than 12522429 payload bytes";
        return vxqir::frames::checkChunkFrameSpec(c);
    }
    if ((spec.format == GenFormat::Png || spec.format == GenFormat::Jpeg) && spec.bpp != 8 && spec.bpp != 24)
        return "--bpp must be 8 (gray) or 24 (RGB) for PNG and JPEG images";
    if (spec.width > 65535 || uint64_t{ spec.width } * channelsOf(spec) > 65535)
        return "lines of --width pixels are too long for the unit";
    return {};
}

uint64_t formFrameBytes(const GenSpec& spec)
{
    if (spec.format == GenFormat::Record)
        return sizeof(BaseHeader) + sizeof(VideoHeader) + vxqir::frames::chunkFrameSize(chunkSpec(spec)) +
            (spec.otherRecords ? kCanRecordBytes : 0);
    return uint64_t{ spec.width } * spec.height * channelsOf(spec);
}

std::string imageFileName(const GenSpec& spec, uint32_t frame)
{
    char name[64];
    if (spec.timedNames)
        std::snprintf(name, sizeof name, "frame_%06u_%012lluus%s", frame,
                      static_cast<unsigned long long>(frameTimeUs(spec, frame)), extensionOf(spec.format));
    else
        std::snprintf(name, sizeof name, "frame_%06u%s", frame, extensionOf(spec.format));
    return name;
}

uint32_t generateRecordFile(const GenSpec& spec, const std::string& path, const std::function<bool()>& stop)
{
    qir::tools::OutputFile out(path, "recording");
    const auto c = chunkSpec(spec);
    std::vector<uint8_t> container(vxqir::frames::chunkFrameSize(c));
    std::vector<uint8_t> record;
    for (uint32_t f = 0; f < spec.frames; ++f) {
        if (stop && stop())
            return f; // the OutputFile removes the unfinished file
        const uint64_t timeUs = frameTimeUs(spec, f);
        const size_t size = vxqir::frames::writeChunkFrame(container, c, f, timeUs * 1000);
        record.clear();
        if (spec.otherRecords) {
            put(record,
                BaseHeader{ .timestamp = static_cast<int64_t>(timeUs) - 1,
                            .type = ChannelType::CAN,
                            .length = static_cast<uint32_t>(kCanRecordBytes),
                            .payload_length = static_cast<uint32_t>(kCanPayload) });
            // A classic CAN frame: dlc 0 to 8 is its payload size.
            put(record, CANHeader{ .id = 0x123, .ide = 0, .dlc = kCanPayload, .edl = 0, .brs = 0, .crc = 0 });
            record.insert(record.end(), kCanPayload, static_cast<uint8_t>(f));
        }
        put(record,
            BaseHeader{ .timestamp = static_cast<int64_t>(timeUs),
                        .type = ChannelType::Video,
                        .length = static_cast<uint32_t>(sizeof(BaseHeader) + sizeof(VideoHeader) + size),
                        .payload_length = static_cast<uint32_t>(size) });
        put(record,
            VideoHeader{ .asynchronous = 0,
                         .pixel_format = static_cast<uint8_t>(c.subType),
                         .raw_color_scheme = static_cast<uint8_t>(c.colorScheme),
                         .imager_type = { 'Q', 'I', 'R', 'T', 'E', 'S', 'T', '\0' },
                         .compression = 0,
                         .width = c.width,
                         .height = c.height,
                         .frame_counter = f });
        record.insert(record.end(), container.begin(), container.begin() + static_cast<std::ptrdiff_t>(size));
        out.write(std::span<const uint8_t>(record));
    }
    out.commit();
    return spec.frames;
}

uint32_t generateImageDirectory(const GenSpec& spec, const std::string& path, const std::function<bool()>& stop)
{
    TemporaryDirectory directory(path);
    const size_t line = size_t{ spec.width } * channelsOf(spec);
    std::vector<uint8_t> pixels(line * spec.height);
    for (uint32_t f = 0; f < spec.frames; ++f) {
        if (stop && stop())
            return f; // the temporary directory goes with what it holds
        for (uint32_t y = 0; y < spec.height; ++y)
            vxqir::frames::fillPattern(std::span(pixels).subspan(y * line, line), spec.pattern, f, y);
        qir::tools::OutputFile out(directory.file(imageFileName(spec, f)), "image");
        if (spec.format == GenFormat::Png) {
            out.write(std::span<const uint8_t>(encodePng(spec, pixels)));
        } else if (spec.format == GenFormat::Jpeg) {
            out.write(std::span<const uint8_t>(encodeJpeg(spec, pixels)));
        } else {
            out.write((spec.format == GenFormat::Pgm ? "P5\n" : "P6\n") + std::string("# qir-gen frame ") +
                      std::to_string(f) + "\n" + std::to_string(spec.width) + " " + std::to_string(spec.height) +
                      "\n255\n");
            out.write(std::span<const uint8_t>(pixels));
        }
        out.commit();
    }
    directory.commit();
    return spec.frames;
}

} // namespace qir::gen
