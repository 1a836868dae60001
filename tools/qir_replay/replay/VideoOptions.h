// VideoOptions.h - the command-line options of video files, shared by the
// replay and the check.
#pragma once

#include "VideoPixelFormat.h"

#include <CLI/CLI.hpp>

#include <map>
#include <string>

namespace qir::replay {

inline void addVideoOptions(CLI::App& app, qir::video::VideoChoice& video)
{
    const std::map<std::string, qir::video::VideoPixelFormat> layouts = {
        { "rgb24", qir::video::VideoPixelFormat::Rgb24 },     { "bgr24", qir::video::VideoPixelFormat::Bgr24 },
        { "gray8", qir::video::VideoPixelFormat::Gray8 },     { "gray16le", qir::video::VideoPixelFormat::Gray16le },
        { "yuyv422", qir::video::VideoPixelFormat::Yuyv422 }, { "uyvy422", qir::video::VideoPixelFormat::Uyvy422 },
    };
    app.add_option("--pixel-format", video.pixels,
                   "video files: the pixel layout the frames are sent in (rgb24, bgr24, gray8, gray16le, yuyv422, "
                   "uyvy422; default bgr24)")
        ->transform(CLI::CheckedTransformer(layouts));
    app.add_option("--stream", video.stream,
                   "video files: the container's stream to replay (default: FFmpeg's best video stream)")
        ->check(CLI::Range(0, 65535));
}

} // namespace qir::replay
