// The IPL image model: colour model, channels and row geometry.
#include "types/KOVAIplImageModel.h"
#include <ostream>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

std::string chars4(const char (&field)[4])
{
    return std::string(field, strnlen(field, 4));
}

struct ModelCase {
    const char* name;
    int32_t width, height;
    const char* sequence;
    int32_t order, depth, align;
    const char* colorModel;
    const char* channelSeq;
    int32_t channels, alpha, widthStep, imageSize;
};

/// Test names are enough to identify a case in messages.
[[maybe_unused]] static void PrintTo(const ModelCase& c, std::ostream* os)
{
    *os << c.name;
}

class IplImageModel : public ::testing::TestWithParam<ModelCase> { };

TEST_P(IplImageModel, FillsTheHeaderFromTheGeometry)
{
    const ModelCase& c = GetParam();
    const IplImage image = KOVA::IplImageModel(c.width, c.height, c.sequence, c.order, c.depth, c.align);
    EXPECT_EQ(image.nSize, 144);
    EXPECT_EQ(chars4(image.colorModel), c.colorModel);
    EXPECT_EQ(chars4(image.channelSeq), c.channelSeq);
    EXPECT_EQ(image.nChannels, c.channels);
    EXPECT_EQ(image.alphaChannel, c.alpha);
    EXPECT_EQ(image.widthStep, c.widthStep);
    EXPECT_EQ(image.imageSize, c.imageSize);
    EXPECT_EQ(image.width, c.width);
    EXPECT_EQ(image.depth, c.depth);
    EXPECT_EQ(image.imageData, nullptr);
    EXPECT_EQ(image.BorderMode[3], 1);
    EXPECT_EQ(image.origin, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, IplImageModel,
    ::testing::Values(
        ModelCase{ "LowerCaseBgr640x480", 640, 480, "bgr", 0, 8, 4, "RGB", "BGR", 3, 0, 1920, 480 * 1920 },
        ModelCase{ "Bgra", 10, 2, "BGRA", 0, 8, 4, "RGBA", "BGRA", 4, 3, 40, 80 },
        ModelCase{ "RgbAlignedTo8", 1280, 800, "RGB", 0, 8, 8, "RGB", "RGB", 3, 0, 3840, 800 * 3840 },
        ModelCase{ "Gray16", 1280, 800, "GRAY", 0, 16, 8, "GRAY", "GRAY", 1, 0, 2560, 800 * 2560 },
        ModelCase{ "SingleG", 3, 1, "g", 0, 8, 4, "G", "GRAY", 1, 0, 4, 4 },
        ModelCase{ "FourLettersEndingInA", 2, 2, "YUVA", 0, 8, 1, "YUVA", "YUVA", 4, 3, 8, 16 },
        ModelCase{ "RowPaddedToAlignment", 5, 2, "BGR", 0, 8, 4, "RGB", "BGR", 3, 0, 16, 32 },
        ModelCase{ "TwelveBitDepthRoundsUpToBytes", 3, 1, "GRAY", 0, 12, 1, "GRAY", "GRAY", 1, 0, 5, 5 },
        ModelCase{ "PlanarMultipliesTheImageNotTheRow", 5, 2, "BGR", 1, 8, 4, "RGB", "BGR", 3, 0, 8, 48 },
        ModelCase{ "SignedDepthBitIsIgnored", 4, 1, "GRAY", 0, static_cast<int32_t>(0x80000010u), 1, "GRAY", "GRAY", 1,
                   0, 8, 8 },
        ModelCase{ "AlignmentZeroCountsAsOne", 5, 1, "BGR", 0, 8, 0, "RGB", "BGR", 3, 0, 15, 15 },
        ModelCase{ "TooLargeIsMarkedInvalid", 100000, 100000, "BGR", 0, 8, 4, "RGB", "BGR", 3, 0, -1, -1 }),
    [](const auto& testCase) { return std::string(testCase.param.name); });

} // namespace
