// CodedImageFrames.h - coded (for example compressed) images as the unit
// client cuts them into unit packets.
//
// The unit client sends a coded image of `imageSize` bytes in packets of
// "MaxPayLoadSize" rounded down to a multiple of 8 bytes; the last packet is
// filled up with zeros, so every packet of the image has the same size. It
// declares the image's `height` as the lines of a frame, and the unit counts
// a frame complete only when the last packet is line `height` - 1: images
// meant to arrive complete have exactly `height` packets
// (codedImageSizeRange).
#pragma once

#include "BytePattern.h"

#include <cstddef>
#include <cstdint>
#include <span>

namespace vxqir::frames {

/// Bytes of each packet for a "MaxPayLoadSize" of `maxPayloadSize`.
constexpr uint16_t codedImagePacketBytes(uint16_t maxPayloadSize)
{
    return static_cast<uint16_t>(maxPayloadSize - maxPayloadSize % 8u);
}

/// Packets of an image of `imageSize` bytes (0 for an empty image or
/// `packetBytes` 0).
constexpr size_t codedImagePacketCount(size_t imageSize, uint16_t packetBytes)
{
    return packetBytes == 0 ? 0 : (imageSize + packetBytes - 1) / packetBytes;
}

/// Image sizes that make exactly `lines` packets of `packetBytes`:
/// (lines - 1) * packetBytes + 1 to lines * packetBytes.
struct ImageSizeRange {
    size_t smallest = 0;
    size_t largest = 0;
};
constexpr ImageSizeRange codedImageSizeRange(uint16_t lines, uint16_t packetBytes)
{
    if (lines == 0)
        return {};
    return { size_t{ lines - 1u } * packetBytes + 1, size_t{ lines } * packetBytes };
}

/// The size of image `frameIndex` of a source whose sizes vary inside
/// `range`: a fixed walk through the range that reaches both ends.
size_t codedImageSize(ImageSizeRange range, uint32_t frameIndex);

/// Fills coded image `frameIndex` with `pattern` (one pattern line per
/// 4096 bytes, so the content differs along the image).
void fillCodedImage(std::span<uint8_t> image, BytePattern pattern, uint32_t frameIndex);

/// Checksum of what the unit receives for `image` cut into packets of
/// `packetBytes`: the image bytes, then the zeros that fill the last packet.
uint64_t codedImageSentChecksum(std::span<const uint8_t> image, uint16_t packetBytes);

} // namespace vxqir::frames
