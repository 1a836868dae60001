// ImageHeaders.h - what the headers of PGM, PPM, PNG and JPEG files say,
// read from bytes of the outside world: every read is checked against the
// bytes given, and a file that does not hold together raises
// ImageHeaderError with the byte offset where it goes wrong.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>

namespace qir::replay {

class ImageHeaderError : public std::runtime_error {
public:
    ImageHeaderError(size_t offset, const std::string& cause) : std::runtime_error(cause), offset_(offset) { }
    size_t offset() const noexcept { return offset_; }

private:
    size_t offset_;
};

/// Geometry of an image as sent: `channels` bytes per pixel (8-bit samples).
struct ImageGeometry {
    uint32_t width = 0;
    uint32_t height = 0;
    uint8_t channels = 1;
    size_t pixelOffset = 0; ///< PGM/PPM: where the pixels start
};

/// Binary PGM ("P5", gray) or PPM ("P6", RGB) of 8-bit samples (maxval 1 to
/// 255); the pixels must all be there (bytes after them are ignored).
ImageGeometry readPnmHeader(std::span<const uint8_t> bytes);

/// A PNG: signature, IHDR first, every chunk whole with a matching CRC, at
/// least one IDAT, and IEND. Gray images (with or without alpha) are sent
/// as one channel, all others (RGB, palette, with or without alpha) as three.
ImageGeometry readPngHeader(std::span<const uint8_t> bytes);

/// A JPEG: start-of-image marker, marker segments up to the first
/// start-of-frame header (width and height from there; channels: its
/// component count), and an end-of-image marker as the last two bytes.
ImageGeometry readJpegHeader(std::span<const uint8_t> bytes);

/// The first bytes are those of a PGM/PPM, PNG or JPEG file.
bool looksLikePnm(std::span<const uint8_t> bytes);
bool looksLikePng(std::span<const uint8_t> bytes);
bool looksLikeJpeg(std::span<const uint8_t> bytes);

} // namespace qir::replay
