// Conversion of the pixel data of raw camera frames into IPL image rows:
// YUV 4:2:2 frames of 10-bit samples in 16-bit words, packed two samples per
// 24-bit "RGB" pixel, and monochrome frames of 16-bit words copied into a
// 16-bit "GRAY" image. The component KOVAraw2qir_ipl, its tests and its
// benchmark all use these functions and this geometry.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace qir::raw {

/// Kind of the input frames (the index of the "InputFormat" choices).
enum class InputFormat : uint8_t { Yuv422 = 0, Mono = 1 };
/// Kind of the output image (the index of the "OutputFormat" choices).
enum class OutputFormat : uint8_t { YuyvInRgb24 = 0, Mono16 = 1 };

/// Geometry of one output format: the IPL model's channel sequence, bits
/// per channel and channels, and the input bytes one output pixel consumes.
struct OutputGeometry {
    const char* channelSequence;
    int32_t depth;
    int32_t channels;
    uint32_t inputBytesPerPixel;
};

/// The geometry of `format`: "RGB" 3 x 8 bits from two 16-bit words, or
/// "GRAY" 1 x 16 bits from one 16-bit word.
constexpr OutputGeometry GeometryOf(OutputFormat format)
{
    return format == OutputFormat::YuyvInRgb24 ? OutputGeometry{ "RGB", 8, 3, 4 } : OutputGeometry{ "GRAY", 16, 1, 2 };
}

/// The input format whose frames `format` is made from.
constexpr InputFormat InputFormatFor(OutputFormat format)
{
    return format == OutputFormat::YuyvInRgb24 ? InputFormat::Yuv422 : InputFormat::Mono;
}

/// Where a conversion writes: `width` x `height` pixels, rows `widthStep`
/// bytes apart from `data` on.
struct ImageRows {
    uint8_t* data;
    uint32_t width;
    uint32_t height;
    uint32_t widthStep;
};

/// Packs one row: `width` pairs of little-endian 16-bit words (a, b) at `in`
/// become `width` 3-byte pixels at `out`, v = (lower 10 bits of b) << 14 |
/// (lower 10 bits of a) << 2, low byte first. Reads 4 x `width` bytes,
/// writes 3 x `width`. Thread-safe; `in` and `out` must not overlap.
void PackYuv422Row(const uint8_t* in, uint8_t* out, uint32_t width) noexcept;

/// One implementation of PackYuv422Row for a kind of processor.
struct RowPacker {
    const char* name; ///< "avx2", "ssse3", "sse2" or "scalar"
    void (*pack)(const uint8_t* in, uint8_t* out, uint32_t width) noexcept;
};

/// The implementations this processor can run, fastest first; the first is
/// the one PackYuv422Row uses. Thread-safe.
const std::vector<RowPacker>& RowPackers();

/// Converts the pixel data of one frame (`pixels`, `pixelBytes` bytes after
/// the frame header) into `image` with `format`: every row that is whole in
/// the pixel data is converted, every other row is set to zero, so nothing
/// is read past `pixelBytes` and nothing of an earlier image stays. Rows run
/// on with no gap in the input. Returns the number of rows converted.
/// Thread-safe for distinct images.
uint32_t ConvertFrame(OutputFormat format, const uint8_t* pixels, size_t pixelBytes, const ImageRows& image) noexcept;

/// Sets every row of `image` to zero. Thread-safe for distinct images.
void ClearImage(const ImageRows& image) noexcept;

} // namespace qir::raw
