// Coded images: packet size from "MaxPayLoadSize", packet counts, the zero
// fill of the last packet in the checksum, and image sizes that keep a frame
// at the declared number of lines.
#include "CodedImageFrames.h"
#include "FrameChecksum.h"

#include <gtest/gtest.h>

#include <vector>

namespace vxqir::frames {
namespace {

TEST(CodedImagePackets, AreTheLargestMultipleOfEightWithinThePayloadSize)
{
    EXPECT_EQ(codedImagePacketBytes(8948), 8944);
    EXPECT_EQ(codedImagePacketBytes(8950), 8944);
    EXPECT_EQ(codedImagePacketBytes(8952), 8952);
    EXPECT_EQ(codedImagePacketBytes(7), 0);
    EXPECT_EQ(codedImagePacketCount(20000, 8944), 3u);
    EXPECT_EQ(codedImagePacketCount(17888, 8944), 2u);
    EXPECT_EQ(codedImagePacketCount(0, 8944), 0u);
}

TEST(CodedImageChecksum, CoversTheZerosThatFillTheLastPacket)
{
    std::vector<uint8_t> image(20000);
    fillCodedImage(image, BytePattern::Ramp, 5);
    std::vector<uint8_t> sent = image;
    sent.resize(3 * 8944, 0);
    FrameChecksum whole;
    whole.update(sent);
    EXPECT_EQ(codedImageSentChecksum(image, 8944), whole.value());
    EXPECT_EQ(codedImageSentChecksum({}, 8944), FrameChecksum{}.value());
}

TEST(CodedImageSizes, StayWithinTheRangeOfTheDeclaredLinesAndReachBothEnds)
{
    const ImageSizeRange range = codedImageSizeRange(3, 8944);
    EXPECT_EQ(range.smallest, 17889u);
    EXPECT_EQ(range.largest, 26832u);
    EXPECT_EQ(codedImageSize(range, 0), range.smallest);
    EXPECT_EQ(codedImageSize(range, 1), range.largest);
    for (uint32_t i = 0; i < 1000; ++i) {
        const size_t size = codedImageSize(range, i);
        ASSERT_GE(size, range.smallest);
        ASSERT_LE(size, range.largest);
        ASSERT_EQ(codedImagePacketCount(size, 8944), 3u);
    }
    EXPECT_NE(codedImageSize(range, 2), codedImageSize(range, 3));
}

} // namespace
} // namespace vxqir::frames
