// Row packing of YUV 4:2:2 words against a plain per-pixel reference, for
// row lengths around the packing's blocks of sixteen pixels.
#include "image_converter/RawFrameConversion.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace {

std::vector<uint8_t> ReferenceRow(const std::vector<uint8_t>& in, uint32_t width)
{
    std::vector<uint8_t> out;
    for (uint32_t c = 0; c < width; ++c) {
        const uint32_t a = (in[4 * c] | in[4 * c + 1] << 8) & 0x3FF;
        const uint32_t b = (in[4 * c + 2] | in[4 * c + 3] << 8) & 0x3FF;
        const uint32_t v = b << 14 | a << 2;
        out.push_back(static_cast<uint8_t>(v));
        out.push_back(static_cast<uint8_t>(v >> 8));
        out.push_back(static_cast<uint8_t>(v >> 16));
    }
    return out;
}

} // namespace

TEST(RowPacking, EveryPackerMatchesThePerPixelRuleForEveryRowLengthAndWritesNothingBeyondTheRow)
{
    ASSERT_FALSE(qir::raw::RowPackers().empty());
    for (const qir::raw::RowPacker& packer : qir::raw::RowPackers()) {
        std::mt19937 random(20261210);
        for (uint32_t width = 0; width <= 70; ++width) {
            std::vector<uint8_t> in(4 * width);
            for (auto& byte : in)
                byte = static_cast<uint8_t>(random());
            // Exactly the row's bytes, so that AddressSanitizer sees any
            // access beyond them; guard bytes follow in a second check.
            std::vector<uint8_t> out(3 * width);
            packer.pack(in.data(), out.data(), width);
            EXPECT_EQ(out, ReferenceRow(in, width)) << packer.name << ", width " << width;
            std::vector<uint8_t> guarded(3 * width + 32, 0xA5);
            packer.pack(in.data(), guarded.data(), width);
            for (size_t i = 3 * width; i < guarded.size(); ++i)
                ASSERT_EQ(guarded[i], 0xA5) << packer.name << ", width " << width << ", byte " << i;
        }
    }
}

TEST(RowPacking, AFrameOfOnlyPartOfARowConvertsNoRowAndClearsTheImage)
{
    std::vector<uint8_t> image(2 * 24, 0x77);
    const std::vector<uint8_t> pixels(4 * 7, 0xFF); // 7 of 8 pixels of the first row
    const uint32_t rows = qir::raw::ConvertFrame(qir::raw::OutputFormat::YuyvInRgb24, pixels.data(), pixels.size(),
                                                 { image.data(), 8, 2, 24 });
    EXPECT_EQ(rows, 0u);
    EXPECT_THAT(image, ::testing::Each(0));
}
