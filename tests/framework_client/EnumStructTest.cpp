// Enumeration values: building, selecting, their text form and its errors.
#include "properties/KOVAEnumStruct.h"
#include <ostream>

#include <gtest/gtest.h>

TEST(EnumStruct, SplitsTheChoicesTextAtEveryBar)
{
    const KOVAEnumStruct e("YUV422|Mono", 0);
    ASSERT_EQ(e.Count(), 2);
    EXPECT_EQ(e.Choices()[1], "Mono");
    EXPECT_EQ(e.Selected(), 0);
    EXPECT_EQ(std::string(e.ToString()), "2|0|YUV422|Mono");
}

TEST(EnumStruct, NullOrEmptyChoicesGiveNoChoicesAndNoSelection)
{
    EXPECT_EQ(KOVAEnumStruct(nullptr, 0).Selected(), -1);
    EXPECT_EQ(KOVAEnumStruct("", 0).Count(), 0);
    EXPECT_EQ(std::string(KOVAEnumStruct("", 0).ToString()), "0|-1");
}

TEST(EnumStruct, SelectTakesAnEqualChoiceAndOtherwiseSelectsNothing)
{
    KOVAEnumStruct e("MSB|LSB", 0);
    EXPECT_TRUE(e.Select("LSB"));
    EXPECT_EQ(e.Selected(), 1);
    EXPECT_FALSE(e.Select("lsb"));
    EXPECT_EQ(e.Selected(), -1);
}

TEST(EnumStruct, IsEnumStringNeedsTwoIntegersSeparatedByABar)
{
    EXPECT_TRUE(KOVAEnumStruct::IsEnumString("2|1|a|b"));
    EXPECT_TRUE(KOVAEnumStruct::IsEnumString("0|-1"));
    EXPECT_FALSE(KOVAEnumStruct::IsEnumString("2"));
    EXPECT_FALSE(KOVAEnumStruct::IsEnumString("a|1"));
    EXPECT_FALSE(KOVAEnumStruct::IsEnumString(""));
}

TEST(EnumStruct, FromStringReadsChoicesAndSelection)
{
    KOVAEnumStruct e;
    KOVAStackedString message;
    ASSERT_TRUE(e.FromString("3|2|a|b|c", false, &message));
    EXPECT_EQ(e.Count(), 3);
    EXPECT_EQ(e.SelectedText(), "c");
    EXPECT_TRUE(message.IsEmpty());
}

TEST(EnumStruct, FromStringWithSelectionOnlyKeepsTheChoices)
{
    KOVAEnumStruct e("YUV422|Mono", 0);
    ASSERT_TRUE(e.FromString("9|1|x|y|z", true));
    EXPECT_EQ(e.Count(), 2);
    EXPECT_EQ(e.SelectedText(), "Mono");
}

struct FromStringCase {
    const char* name;
    const char* text;
    bool accepted;
    const char* message;
    int32_t selectedAfter;
};

/// Test names are enough to identify a case in messages.
[[maybe_unused]] static void PrintTo(const FromStringCase& c, std::ostream* os)
{
    *os << c.name;
}

class EnumFromString : public ::testing::TestWithParam<FromStringCase> { };

TEST_P(EnumFromString, ReportsIllFormedTextsWithTheFrameworkTexts)
{
    KOVAEnumStruct e("MSB|LSB", 1);
    KOVAStackedString message;
    EXPECT_EQ(e.FromString(GetParam().text, false, &message), GetParam().accepted);
    EXPECT_EQ(std::string(message), GetParam().message);
    EXPECT_EQ(e.Selected(), GetParam().selectedAfter);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, EnumFromString,
    ::testing::Values(
        FromStringCase{
            "NoHead", "MSB|LSB", false,
            "KOVAEnumStruct::FromString: Ill-formed enum string [expected:nbVal|selected|val0|val1|val2...] "
            "[received:MSB|LSB]",
            1 },
        FromStringCase{ "CountMismatch", "3|0|a|b", false,
                        "KOVAEnumStruct::FromString: Declared size of enum struct does not match the number of given "
                        "elements.",
                        1 },
        FromStringCase{ "NegativeCount", "-1|0", false,
                        "KOVAEnumStruct::FromString: Declared size of enum struct does not match the number of given "
                        "elements.",
                        1 },
        FromStringCase{ "SelectionBeyondChoices", "2|5|a|b", true,
                        "KOVAEnumStruct::FromString: Selected value incompatible with enum values for property. "
                        "Selected property is set to 0.",
                        0 },
        FromStringCase{ "SelectionWithNoChoices", "0|0", true,
                        "KOVAEnumStruct::FromString: Selected value incompatible with enum values for property. "
                        "Selected property is set to 0.",
                        -1 },
        FromStringCase{ "NothingSelected", "2|-1|a|b", true, "", -1 }),
    [](const auto& testCase) { return std::string(testCase.param.name); });
