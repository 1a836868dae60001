// VideoCheck.h - what qir-replay shows and writes of a video file: the
// lines of `check`, and the video player's properties in the graph.
#pragma once

#include "Recording.h"

#include <cstdio>
#include <string>

namespace qir::replay {

/// The container, stream, codec, size, source pixel format, the layout sent,
/// the container's frame rate and duration against the frames found.
void printVideoCheck(const Recording& recording, std::FILE* out);

/// ", PixelFormat = "...", Stream = N" for the video player of `recording`.
std::string videoPlayerProperties(const Recording& recording);

} // namespace qir::replay
