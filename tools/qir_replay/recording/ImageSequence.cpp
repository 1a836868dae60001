// Image sequences: a directory of PNG, PGM and PPM files (sent as IPL
// images) or of JPEG files (sent as coded images), one frame per file in the
// order of their names. Every file is mapped and its header checked when the
// directory is opened; PNGs are decoded when their frame is sent.
#include "ImageHeaders.h"
#include "Recording.h"

#include "FrameChecksum.h"

#include <png.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <vector>

namespace qir::replay {

namespace {

/// Bytes of a JPEG's unit packets are at most this (the unit client's
/// default "MaxPayLoadSize" rounded down to whole 8 bytes).
constexpr uint32_t kMaxCodedPacketBytes = 8944;

std::string lowerExtension(const std::filesystem::path& path)
{
    std::string ext = path.extension().string();
    for (char& c : ext)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext;
}

bool isImageName(const std::filesystem::path& path)
{
    const std::string ext = lowerExtension(path);
    return ext == ".png" || ext == ".pgm" || ext == ".ppm" || ext == ".pnm" || ext == ".jpg" || ext == ".jpeg";
}

/// The time a file name carries: a stem ending in "_<digits>us"
/// ("cam_001000000us.png" is at 1000000 microseconds).
std::optional<uint64_t> timeOfName(const std::filesystem::path& path)
{
    const std::string stem = path.stem().string();
    if (stem.size() < 4 || stem.compare(stem.size() - 2, 2, "us") != 0)
        return std::nullopt;
    size_t start = stem.size() - 2;
    while (start > 0 && std::isdigit(static_cast<unsigned char>(stem[start - 1])))
        --start;
    const size_t digits = stem.size() - 2 - start;
    if (digits == 0 || digits > 19 || start == 0 || stem[start - 1] != '_')
        return std::nullopt;
    return std::stoull(stem.substr(start, digits));
}

} // namespace

void Recording::indexImages(std::optional<RecordingFormat> format)
{
    namespace fs = std::filesystem;
    std::vector<fs::path> names;
    std::error_code error;
    for (fs::directory_iterator it(path(), error), end; !error && it != end; it.increment(error)) {
        if (isImageName(it->path()) && it->is_regular_file())
            names.push_back(it->path());
        else
            ++skippedFiles_;
    }
    if (error)
        throw RecordingError(path() + ": cannot read the directory: " + error.message());
    if (names.empty())
        throw RecordingError(path() +
                             ": no PNG, PGM, PPM or JPEG images (files named *.png, *.pgm, *.ppm, *.pnm, "
                             "*.jpg or *.jpeg)");
    std::sort(names.begin(), names.end());

    // Times come from the names when every name carries one.
    std::vector<std::optional<uint64_t>> times;
    for (const fs::path& name : names)
        times.push_back(timeOfName(name));
    namesCarryTimes_ = std::all_of(times.begin(), times.end(), [](const auto& t) { return t.has_value(); });

    for (size_t i = 0; i < names.size(); ++i) {
        checkInterrupted();
        const std::string file = names[i].string();
        files_.emplace_back(file);
        const std::span<const uint8_t> bytes = files_.back().bytes();
        ImageInfo info;
        info.name = names[i].filename().string();
        if (looksLikeJpeg(bytes))
            info.kind = ImageKind::Jpeg;
        else if (looksLikePng(bytes))
            info.kind = ImageKind::Png;
        else if (looksLikePnm(bytes))
            info.kind = bytes[1] == '5' || bytes[1] == '2' ? ImageKind::Pgm : ImageKind::Ppm;
        else
            throw RecordingError(file + ": byte 0: neither a PNG, a PGM/PPM nor a JPEG file");
        const bool jpeg = info.kind == ImageKind::Jpeg;
        if (i == 0)
            format_ = format ? *format : jpeg ? RecordingFormat::Jpeg : RecordingFormat::Images;
        if (jpeg != (format_ == RecordingFormat::Jpeg))
            throw RecordingError(file + ": byte 0: " +
                                 (jpeg ? "a JPEG file among PNG, PGM and PPM images (JPEG images are sent coded, "
                                         "the others as pixels: keep them in separate directories)"
                                       : "not a JPEG file among JPEG images"));
        ImageGeometry g;
        try {
            g = jpeg                          ? readJpegHeader(bytes)
                : info.kind == ImageKind::Png ? readPngHeader(bytes)
                                              : readPnmHeader(bytes);
        } catch (const ImageHeaderError& bad) {
            throw RecordingError(file + ": byte " + std::to_string(bad.offset()) + ": " + bad.what());
        }
        info.width = g.width;
        info.height = g.height;
        info.channels = g.channels; // JPEG: its components
        info.pixelOffset = g.pixelOffset;
        if (frames_.empty()) {
            width_ = info.width;
            height_ = info.height;
            channels_ = info.channels;
        } else if (info.width != width_ || info.height != height_ || (info.channels != channels_ && !jpeg)) {
            throw RecordingError(file + ": byte 0: an image of " + std::to_string(info.width) + " x " +
                                 std::to_string(info.height) + " pixels, " + std::to_string(info.channels) +
                                 " channels after images of " + std::to_string(width_) + " x " +
                                 std::to_string(height_) + ", " + std::to_string(channels_) +
                                 " channels (the unit takes one geometry per run)");
        }
        FrameEntry entry;
        entry.offset = 0;
        entry.size = bytes.size();
        entry.timeUs = namesCarryTimes_ ? *times[i] : 0;
        entry.file = static_cast<uint32_t>(i);
        frames_.push_back(entry);
        imageInfo_.push_back(info);
        largest_ = std::max(largest_, bytes.size());
    }
}

void Recording::sizeCodedPackets()
{
    {
        // Every image goes out as exactly `height` packets, its bytes and
        // then zeros, so that the unit sees whole frames of the declared height.
        const uint64_t perLine = (largest_ + height_ - 1) / height_;
        codedPacketBytes_ = static_cast<uint32_t>(std::max<uint64_t>(8, (perLine + 7) / 8 * 8));
        if (codedPacketBytes_ > kMaxCodedPacketBytes)
            throw RecordingError(path() + ": a JPEG of " + std::to_string(largest_) + " bytes does not fit in " +
                                 std::to_string(height_) + " packets of at most " +
                                 std::to_string(kMaxCodedPacketBytes) + " bytes");
    }
}

void Recording::decodeImage(size_t index, uint8_t* out, size_t rowStride) const
{
    const ImageInfo& info = imageInfo_.at(index);
    // Read from the file, not the mapping: the file may have changed since.
    // PGM/PPM pixels go straight into `out` (one read when the rows lie
    // there without padding): no copy in between, and no fresh buffer a
    // frame, whose page faults cost as much as the read.
    const size_t line = size_t{ info.width } * info.channels;
    if (info.kind == ImageKind::Pgm || info.kind == ImageKind::Ppm) {
        if (rowStride == line) {
            copyFramePart(index, info.pixelOffset, { out, line * info.height });
            return;
        }
        for (size_t y = 0; y < info.height; ++y)
            copyFramePart(index, info.pixelOffset + y * line, { out + y * rowStride, line });
        return;
    }
    std::vector<uint8_t> copy(frameBytes(index).size());
    copyFrame(index, copy.data());
    const std::span<const uint8_t> bytes(copy);
    if (info.kind != ImageKind::Png)
        throw RecordingError(files_.at(frames_[index].file).path() + ": not an image of pixels");
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    const std::string& file = files_.at(frames_[index].file).path();
    if (!png_image_begin_read_from_memory(&image, bytes.data(), bytes.size()))
        throw RecordingError(file + ": the PNG does not decode: " + image.message);
    image.format = info.channels == 1 ? PNG_FORMAT_GRAY : PNG_FORMAT_RGB;
    if (image.width != info.width || image.height != info.height) {
        png_image_free(&image);
        throw RecordingError(file + ": the PNG changed while it was read");
    }
    // Alpha is composed onto black, never onto what the buffer held before.
    const png_color black{ 0, 0, 0 };
    if (!png_image_finish_read(&image, &black, out, static_cast<png_int_32>(rowStride), nullptr))
        throw RecordingError(file + ": the PNG does not decode: " + image.message);
}

vxqir::frames::FrameSums Recording::imageSentSums(size_t index) const
{
    vxqir::frames::FrameSumsHasher sum;
    if (format_ == RecordingFormat::Jpeg) {
        const std::span<const uint8_t> bytes = frameBytes(index);
        sum.update(bytes);
        sum.updateZeros(size_t{ codedPacketBytes_ } * height_ - bytes.size());
        return sum.value();
    }
    // The unit client sends each row without its padding.
    std::vector<uint8_t> pixels(size_t{ lineBytes() } * height_);
    decodeImage(index, pixels.data(), lineBytes());
    sum.update(pixels);
    return sum.value();
}

} // namespace qir::replay
