// VideoClips.h - small clips the video tests write through FFmpeg's
// encoders, and the damage they do to them.
#pragma once

#include "VideoClipWriter.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace qir::video::test {

/// One kind of clip: an encoder in a container.
struct ClipKind {
    std::string name;
    std::string codec;
    std::string extension; ///< ".mkv", ...
};

inline void PrintTo(const ClipKind& kind, std::ostream* os)
{
    *os << kind.name;
}

/// FFV1 in Matroska, MJPEG in AVI and QuickTime, raw video in NUT and AVI,
/// H.264 in MP4 (where the machine's FFmpeg has libx264).
inline std::vector<ClipKind> clipKinds()
{
    return { { "Ffv1InMatroska", "ffv1", ".mkv" },    { "MjpegInAvi", "mjpeg", ".avi" },
             { "MjpegInQuickTime", "mjpeg", ".mov" }, { "RawVideoInNut", "rawvideo", ".nut" },
             { "RawVideoInAvi", "rawvideo", ".avi" }, { "H264InMp4", "libx264", ".mp4" } };
}

/// A 64x48 clip of `frames` frames at 25 per second.
inline ClipSpec clipSpec(const std::string& codec, uint32_t frames)
{
    ClipSpec spec;
    spec.codec = codec;
    spec.frames = frames;
    spec.fps = 25;
    return spec;
}

/// Writes `spec` to `path`; a failure fails the test (use under
/// ASSERT_NO_FATAL_FAILURE).
inline void writeTestClip(const std::string& path, const ClipSpec& spec)
{
    try {
        writeClip(path, spec);
    } catch (const ClipError& error) {
        FAIL() << error.what();
    }
}

inline std::vector<uint8_t> fileBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return { std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>() };
}

inline void writeBytes(const std::string& path, const std::vector<uint8_t>& bytes)
{
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

/// The file cut to `fraction` of its length.
inline void cutFile(const std::string& path, double fraction)
{
    std::filesystem::resize_file(
        path, static_cast<uintmax_t>(static_cast<double>(std::filesystem::file_size(path)) * fraction));
}

/// `count` bytes of a fixed noise over the middle of the file.
inline void garbleMiddle(const std::string& path, size_t count)
{
    std::vector<uint8_t> bytes = fileBytes(path);
    uint32_t state = 0x12345678;
    for (size_t i = 0; i < count && bytes.size() / 2 + i < bytes.size(); ++i) {
        state = state * 1664525u + 1013904223u;
        bytes[bytes.size() / 2 + i] = static_cast<uint8_t>(state >> 24);
    }
    writeBytes(path, bytes);
}

} // namespace qir::video::test
