// VideoDecoder.h - frames of an ordinary video file (MP4, MKV, MOV, AVI, ...)
// read and decoded by FFmpeg's libraries and converted to one of our pixel
// layouts, one after the other in presentation order. FFmpeg's headers stay
// in the .cpp.
//
// Damage is a VideoError whose text names the file and where: the frame
// index, its time and the byte of its packet, or the packet that did not
// decode.
#pragma once

#include "VideoPixelFormat.h"

#include <cstdint>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace qir::video {

/// A video file that cannot be opened or decoded: "FILE: cause" or
/// "FILE: frame N (T s, byte B): cause".
class VideoError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
    VideoError(const std::string& text, int64_t damageFromByte)
        : std::runtime_error(text)
        , damageFromByte_(damageFromByte)
    { }
    /// Damage the container's reader found after a packet may have begun
    /// inside that packet: frames whose packets lie at or after this byte
    /// are not known whole (-1: the frames before the error are).
    int64_t damageFromByte() const { return damageFromByte_; }

private:
    int64_t damageFromByte_ = -1;
};

/// What the container says of the chosen stream.
struct VideoStreamInfo {
    std::string container;    ///< FFmpeg's name of the container ("matroska,webm", "avi", ...)
    std::string codec;        ///< FFmpeg's name of the codec ("ffv1", "mjpeg", "h264", ...)
    std::string sourcePixels; ///< the decoder's pixel format ("yuv420p", ...)
    int stream = -1;          ///< index of the stream in the container
    int videoStreams = 0;     ///< video streams in the container
    uint32_t width = 0;
    uint32_t height = 0;
    double frameRate = 0.0;  ///< the container's mean frame rate (0: not given)
    int64_t durationUs = -1; ///< the container's duration (-1: not given)
};

/// One decoded, converted frame.
struct DecodedFrame {
    uint64_t index = 0;      ///< from 0, in presentation order
    int64_t timeUs = 0;      ///< presentation time in microseconds as the container gives it
    int64_t packetByte = -1; ///< where the frame's packet lies in the file (-1: not known)
    int64_t packetBytes = 0; ///< the packet's size
    size_t stride = 0;       ///< bytes from one line to the next in `pixels`
    /// height lines of lineBytes bytes, `stride` apart (only with convert).
    std::vector<uint8_t> pixels;
};

/// Reads one video stream of one file, frame by frame. Not thread-safe: one
/// thread uses a decoder at a time.
class VideoDecoder {
public:
    /// Opens `path` and picks the stream of `choice`. Throws VideoError
    /// naming the file and the cause (not a video FFmpeg can open, no such
    /// video stream, no decoder, a size the unit cannot take).
    VideoDecoder(const std::string& path, const VideoChoice& choice);
    /// The same from bytes in memory, named `name` in errors; the bytes must
    /// outlive the decoder.
    VideoDecoder(std::span<const uint8_t> bytes, const std::string& name, const VideoChoice& choice);
    ~VideoDecoder();
    VideoDecoder(const VideoDecoder&) = delete;
    VideoDecoder& operator=(const VideoDecoder&) = delete;

    const VideoStreamInfo& info() const;
    const PixelLayout& layout() const;
    /// Bytes of one converted line: width x bytes per pixel.
    uint32_t lineBytes() const;

    /// Decodes the next frame into `frame` (its buffer is reused), converted
    /// when `convert` is true. Returns false after the last frame. Throws
    /// VideoError naming the frame (index, time, byte) or the packet that is
    /// damaged, a frame of another size, or a read error of the file.
    bool next(DecodedFrame& frame, bool convert = true);

private:
    struct State;
    std::unique_ptr<State> state_;
};

/// Keeps FFmpeg's own log off the terminal (its last error on each thread
/// goes into our error texts instead). Called by everything here that uses
/// FFmpeg; thread-safe.
void quietLibraryLog();

/// What FFmpeg makes of a file by its content.
struct VideoProbe {
    bool video = false;  ///< it opens and holds a video stream
    std::string problem; ///< FFmpeg took it for a container it could not read, and why ("" otherwise)
};
/// Never throws.
VideoProbe probeVideoFile(const std::string& path);

} // namespace qir::video
