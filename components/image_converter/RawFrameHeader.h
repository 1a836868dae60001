// The 64-byte header in front of every raw camera frame. Sources of raw
// frames write it and the image converter reads it; this header alone knows
// where its fields are.
//
//    0               4          10    11    12          14                 64
//   +---------------+----------+-----+-----+-----------+------------------+----------
//   | frame size    | (other)  | bpw | (o) | lines     | (other)          | pixel data
//   | u32 LE        |          | u8  |     | u16 LE    |                  |
//   +---------------+----------+-----+-----+-----------+------------------+----------
//
// frame size: bytes of the whole frame, header included; bpw: bits per pixel
// word; lines: lines of the image. The other bytes are not read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace qir::raw {

inline constexpr size_t FrameHeaderSize = 64;
inline constexpr size_t FrameSizeOffset = 0;
inline constexpr size_t BitsPerWordOffset = 10;
inline constexpr size_t LinesOffset = 12;

/// The fields of a frame header that the converter reads.
struct FrameHeader {
    uint32_t frameSize = 0;  ///< bytes of the frame, header included
    uint8_t bitsPerWord = 0; ///< bits per pixel word
    uint16_t lines = 0;      ///< lines of the image
};

/// Reads the header from the first FrameHeaderSize bytes of `bytes`, which
/// holds `size` bytes. Returns false (and leaves `header` alone) when fewer
/// than FrameHeaderSize bytes are there. Thread-safe.
inline bool ReadFrameHeader(const uint8_t* bytes, size_t size, FrameHeader& header) noexcept
{
    if (bytes == nullptr || size < FrameHeaderSize)
        return false;
    header.frameSize = static_cast<uint32_t>(bytes[FrameSizeOffset]) |
        static_cast<uint32_t>(bytes[FrameSizeOffset + 1]) << 8 |
        static_cast<uint32_t>(bytes[FrameSizeOffset + 2]) << 16 |
        static_cast<uint32_t>(bytes[FrameSizeOffset + 3]) << 24;
    header.bitsPerWord = bytes[BitsPerWordOffset];
    header.lines = static_cast<uint16_t>(bytes[LinesOffset] | bytes[LinesOffset + 1] << 8);
    return true;
}

/// Writes a header into the FrameHeaderSize bytes at `bytes`: the fields of
/// `header`, every other byte zero. Thread-safe.
inline void WriteFrameHeader(uint8_t* bytes, const FrameHeader& header) noexcept
{
    std::memset(bytes, 0, FrameHeaderSize);
    for (size_t i = 0; i < 4; ++i)
        bytes[FrameSizeOffset + i] = static_cast<uint8_t>(header.frameSize >> (8 * i));
    bytes[BitsPerWordOffset] = header.bitsPerWord;
    bytes[LinesOffset] = static_cast<uint8_t>(header.lines);
    bytes[LinesOffset + 1] = static_cast<uint8_t>(header.lines >> 8);
}

} // namespace qir::raw
