// VideoClipWriter.h - small test clips written through FFmpeg's encoders and
// muxers: a moving pattern whose every frame differs, at a constant frame
// rate or at the times given, in one or several video streams.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace qir::video {

struct ClipSpec {
    std::string codec = "ffv1"; ///< FFmpeg's encoder name: ffv1, mjpeg, rawvideo, libx264, ...
    uint32_t width = 64;
    uint32_t height = 48;
    uint32_t frames = 24; ///< 0: a container with the stream and no frame
    uint32_t fps = 25;    ///< frame rate when timesUs is empty
    /// Presentation times in microseconds, one per frame (variable frame
    /// rate); empty: frame n at n / fps.
    std::vector<int64_t> timesUs;
    /// Video streams, each with its own pattern (stream s starts its
    /// pattern s x 40 frames further on).
    uint32_t streams = 1;
};

/// The clip could not be written: "FILE: cause".
class ClipError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

/// Writes the clip to `path`, the container chosen by its extension (.mkv,
/// .avi, .mov, .mp4, .nut). The file appears only once complete. Throws
/// ClipError naming the cause (no such encoder, a container that does not
/// take the codec, a write error).
void writeClip(const std::string& path, const ClipSpec& spec);

/// True when FFmpeg on this machine has an encoder of that name.
bool hasEncoder(const std::string& codec);

} // namespace qir::video
