// The name rule of inputs, outputs, properties and actions.
#include "text/KOVANameRule.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct NameCase {
    std::string name;
    bool valid;
};

class NameRule : public ::testing::TestWithParam<NameCase> { };

TEST_P(NameRule, AcceptsALetterFollowedByLettersDigitsAndUnderscores)
{
    EXPECT_EQ(KOVA::IsValidName(GetParam().name), GetParam().valid) << "\"" << GetParam().name << "\"";
}

INSTANTIATE_TEST_SUITE_P(Cases, NameRule,
                         ::testing::Values(NameCase{ "SensorDataIn", true }, NameCase{ "a", true },
                                           NameCase{ "oSystemTime_us", true }, NameCase{ "x9_", true },
                                           NameCase{ "9Lives", false }, NameCase{ "_hidden", false },
                                           NameCase{ "", false }, NameCase{ "with space", false },
                                           NameCase{ "dot.ted", false }, NameCase{ "newline\n", false },
                                           NameCase{ std::string("nul\0x", 5), false },
                                           NameCase{ "Umlaut\xc3\xa4", false }));

} // namespace
