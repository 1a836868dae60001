#include "CodedImageFrames.h"

#include "FrameChecksum.h"

#include <algorithm>

namespace vxqir::frames {

namespace {
constexpr size_t PATTERN_LINE_BYTES = 4096;
}

size_t codedImageSize(ImageSizeRange range, uint32_t frameIndex)
{
    if (range.largest <= range.smallest)
        return range.smallest;
    const size_t span = range.largest - range.smallest + 1;
    // Frame 0 is the smallest, frame 1 the largest, then a stride that is
    // prime to most spans.
    if (frameIndex == 0)
        return range.smallest;
    if (frameIndex == 1)
        return range.largest;
    return range.smallest + (size_t{ frameIndex } * 7919u) % span;
}

void fillCodedImage(std::span<uint8_t> image, BytePattern pattern, uint32_t frameIndex)
{
    for (size_t at = 0, line = 0; at < image.size(); at += PATTERN_LINE_BYTES, ++line) {
        const size_t length = std::min(PATTERN_LINE_BYTES, image.size() - at);
        fillPattern(image.subspan(at, length), pattern, frameIndex, static_cast<uint32_t>(line));
    }
}

uint64_t codedImageSentChecksum(std::span<const uint8_t> image, uint16_t packetBytes)
{
    FrameChecksum sum;
    sum.update(image);
    const size_t packets = codedImagePacketCount(image.size(), packetBytes);
    sum.updateZeros(packets * packetBytes - image.size());
    return sum.value();
}

} // namespace vxqir::frames
