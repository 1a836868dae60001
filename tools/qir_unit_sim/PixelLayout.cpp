#include "PixelLayout.h"

#include <png.h>

#include <array>

namespace vxqir::sim {
namespace {

constexpr std::array<PixelLayout, 3> LAYOUTS{ {
    { PixelFormat::Gray8, "gray8", 1, 8, PNG_COLOR_TYPE_GRAY },
    { PixelFormat::Gray16, "gray16", 2, 16, PNG_COLOR_TYPE_GRAY },
    { PixelFormat::Rgb8, "rgb8", 3, 8, PNG_COLOR_TYPE_RGB },
} };

} // namespace

const PixelLayout& pixelLayout(PixelFormat format)
{
    return LAYOUTS[static_cast<size_t>(format)];
}

std::optional<PixelFormat> parsePixelFormat(std::string_view name)
{
    for (const PixelLayout& l : LAYOUTS) {
        if (l.name == name)
            return l.format;
    }
    return std::nullopt;
}

} // namespace vxqir::sim
