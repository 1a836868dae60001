// PixelLayout.h - the pixel layouts a dumped frame can be shown as.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace vxqir::sim {

/// How the bytes of a frame line are read as pixels for a picture.
enum class PixelFormat : uint8_t {
    Gray8,  ///< one byte per pixel
    Gray16, ///< two bytes per pixel, little-endian
    Rgb8,   ///< three bytes per pixel: red, green, blue
};

/// Geometry of one format; the only place that knows it.
struct PixelLayout {
    PixelFormat format;
    std::string_view name; ///< as given on the command line
    unsigned bytesPerPixel;
    unsigned bitDepth; ///< per sample, for PNG
    int pngColorType;  ///< PNG_COLOR_TYPE_... value
};

/// The layout of a format.
const PixelLayout& pixelLayout(PixelFormat format);

/// The layout named `name` ("gray8", "gray16", "rgb8"); nullopt otherwise.
std::optional<PixelFormat> parsePixelFormat(std::string_view name);

/// Bytes of one line of `width` pixels.
inline size_t bytesPerLine(PixelFormat format, uint16_t width)
{
    return static_cast<size_t>(width) * pixelLayout(format).bytesPerPixel;
}

} // namespace vxqir::sim
