// VideoPixelFormat.h - the pixel layouts a decoded video frame is converted
// to before it is sent as an IPL image, and what picks the frames of a
// video file. Free of FFmpeg's headers.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace qir::video {

/// The layout the device under test expects. Every layout is sent as whole
/// lines without padding: width x bytesPerPixel bytes per line.
enum class VideoPixelFormat : uint8_t { Rgb24, Bgr24, Gray8, Gray16le, Yuyv422, Uyvy422 };

/// How a layout travels as an IPL image.
struct PixelLayout {
    VideoPixelFormat format = VideoPixelFormat::Bgr24;
    std::string_view name;       ///< as given on the command line: "bgr24"
    std::string_view channelSeq; ///< the IPL channel sequence: "BGR", "GRAY", "YUYV"
    uint8_t channels = 3;        ///< IPL channels
    uint8_t depth = 8;           ///< IPL bits per channel
    uint8_t bytesPerPixel = 3;   ///< channels x depth / 8
    uint8_t widthMultiple = 1;   ///< the width must be a multiple of this (2 for 4:2:2)
};

/// The table of layouts, one entry per VideoPixelFormat in enum order.
const PixelLayout& pixelLayout(VideoPixelFormat format);
/// "rgb24", "bgr24", "gray8", "gray16le", "yuyv422" or "uyvy422"; nullopt
/// for anything else.
std::optional<VideoPixelFormat> parseVideoPixelFormat(std::string_view name);

/// Which frames of a video file are replayed, and how.
struct VideoChoice {
    int stream = -1; ///< the container's stream index; -1: the best video stream
    VideoPixelFormat pixels = VideoPixelFormat::Bgr24;
    /// Threads of the decoder: 0 as many as the machine has. One thread
    /// reports damage at the same frame every time (several decode a few
    /// frames ahead and find it earlier or later); the frames are the same.
    int decoderThreads = 0;
    /// False: the threads decode the slices of one frame together and
    /// each frame is whole before the next begins, so damage is found at
    /// the same frame every time, however many threads (a codec without
    /// slices, or a stream of one slice a frame, then decodes on one).
    bool frameThreads = true;
    /// Pictures of more pixels are refused before anything is decoded
    /// (0: only what the unit cannot take, or a sample cannot hold).
    int64_t maxPixels = 0;
};

} // namespace qir::video
