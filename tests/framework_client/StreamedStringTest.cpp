// Report texts built with <<.
#include "text/KOVAStreamedString.h"

#include <gtest/gtest.h>

TEST(StreamedString, AppendsTextsAndNumbersAsReportsNeedThem)
{
    KOVAStreamedString text;
    text << "Sent " << static_cast<uint16_t>(65535) << " frames, handle " << int32_t{ -1 } << ", byte "
         << uint8_t{ 200 } << ", " << true << ", " << 0.5 << ", 0x" << KOVA::Hex{ 0x2c } << "/" << KOVA::Hex{ 0 }
         << std::string(" end");
    EXPECT_EQ(std::string(text), "Sent 65535 frames, handle -1, byte 200, true, 0.5, 0x2c/0 end");
}
