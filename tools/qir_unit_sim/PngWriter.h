// PngWriter.h - writes a frame as a PNG picture.
#pragma once

#include "PixelLayout.h"

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>

namespace vxqir::sim {

/// Writes `pixels` (height lines of bytesPerLine(format, width) bytes each,
/// gray16 samples little-endian) as a PNG file at `path`. Returns an empty
/// string on success, else a message naming the file and the reason.
/// Thread-safe (touches nothing but the file).
std::string writePng(const std::filesystem::path& path, PixelFormat format, uint16_t width, uint16_t height,
                     std::span<const uint8_t> pixels);

} // namespace vxqir::sim
