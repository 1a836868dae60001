#include "VXQIRApi.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct ErrorText {
    int code;
    const char* text;
};

class ErrorToStringTest : public ::testing::TestWithParam<ErrorText> { };

TEST_P(ErrorToStringTest, GivesTheFixedTextOfEachCode)
{
    const ErrorText& expected = GetParam();
    EXPECT_STREQ(VXQIR_ErrorToString(static_cast<VXTQirError>(expected.code)), expected.text);
}

INSTANTIATE_TEST_SUITE_P(
    AllCodes, ErrorToStringTest,
    ::testing::Values(ErrorText{ 0, "No error" }, ErrorText{ 1, "Internal error" },
                      ErrorText{ 2, "Control interface not available" }, ErrorText{ 3, "Data interface not available" },
                      ErrorText{ 4, "Channel not available" }, ErrorText{ 5, "Invalid channel handle" },
                      ErrorText{ 6, "Invalid channel index" }, ErrorText{ 7, "Invalid timing" },
                      ErrorText{ 8, "Invalid pointer" }, ErrorText{ 9, "Error in control socket" },
                      ErrorText{ 10, "Error in data socket" }, ErrorText{ 11, "Timeout" },
                      ErrorText{ 12, "Invalid inputInterface configuration" },
                      ErrorText{ 13, "Channel already registered" }, ErrorText{ 14, "Data not available" },
                      ErrorText{ 15, "Packet fragmentation, maxPayloadSize too big for MTU" },
                      ErrorText{ 16, "Invalid error code" }, ErrorText{ -1, "Invalid error code" },
                      ErrorText{ 0x7fffffff, "Invalid error code" }));

TEST(PublicRecords, HaveTheirDocumentedSizes)
{
    EXPECT_EQ(sizeof(VXTQirError), 4u);
    EXPECT_EQ(sizeof(VXTQirChannelHandle), 4u);
    EXPECT_EQ(sizeof(VXTQirChannelNumber), 4u);
}

} // namespace
