// VideoOptions.h - the command-line options of video files, shared by the
// replay and the check.
#pragma once

#include "VideoPixelFormat.h"

#include <CLI/CLI.hpp>

#include <string>

namespace qir::replay {

inline void addVideoOptions(CLI::App& app, qir::video::VideoChoice& video)
{
    app.add_option_function<std::string>(
           "--pixel-format",
           [&video](const std::string& name) { video.pixels = *qir::video::parseVideoPixelFormat(name); },
           "video files: the pixel layout the frames are sent in (default bgr24)")
        ->check(CLI::IsMember({ "rgb24", "bgr24", "gray8", "gray16le", "yuyv422", "uyvy422" }));
    app.add_option("--stream", video.stream,
                   "video files: the container's stream to replay (default: FFmpeg's best video stream)")
        ->check(CLI::Range(0, 65535));
}

} // namespace qir::replay
