#include "VideoPixelFormat.h"

#include <array>

namespace qir::video {

namespace {

// In enum order.
constexpr std::array<PixelLayout, 6> kLayouts = { {
    { .format = VideoPixelFormat::Rgb24,
      .name = "rgb24",
      .channelSeq = "RGB",
      .channels = 3,
      .depth = 8,
      .bytesPerPixel = 3,
      .widthMultiple = 1 },
    { .format = VideoPixelFormat::Bgr24,
      .name = "bgr24",
      .channelSeq = "BGR",
      .channels = 3,
      .depth = 8,
      .bytesPerPixel = 3,
      .widthMultiple = 1 },
    { .format = VideoPixelFormat::Gray8,
      .name = "gray8",
      .channelSeq = "GRAY",
      .channels = 1,
      .depth = 8,
      .bytesPerPixel = 1,
      .widthMultiple = 1 },
    { .format = VideoPixelFormat::Gray16le,
      .name = "gray16le",
      .channelSeq = "GRAY",
      .channels = 1,
      .depth = 16,
      .bytesPerPixel = 2,
      .widthMultiple = 1 },
    { .format = VideoPixelFormat::Yuyv422,
      .name = "yuyv422",
      .channelSeq = "YUYV",
      .channels = 2,
      .depth = 8,
      .bytesPerPixel = 2,
      .widthMultiple = 2 },
    { .format = VideoPixelFormat::Uyvy422,
      .name = "uyvy422",
      .channelSeq = "UYVY",
      .channels = 2,
      .depth = 8,
      .bytesPerPixel = 2,
      .widthMultiple = 2 },
} };

} // namespace

const PixelLayout& pixelLayout(VideoPixelFormat format)
{
    return kLayouts.at(static_cast<size_t>(format));
}

std::optional<VideoPixelFormat> parseVideoPixelFormat(std::string_view name)
{
    for (const PixelLayout& layout : kLayouts)
        if (layout.name == name)
            return layout.format;
    return std::nullopt;
}

} // namespace qir::video
