// Type filters: kind masks, exact masks and PCRE2 name and unit expressions.
#include "types/KOVAFilters.h"
#include "types/KOVATypeFilterBase.h"
#include <ostream>

#include <gtest/gtest.h>

namespace {

// The unit client's image filter and the exact MIPI CSI-2 frame filter.
const KOVATypeFilterBase kImageFilter(0, 0, 0x41060, "|KOVAMipiCsi2Frame");
const KOVATypeFilterBase kCsi2Exact(0xFFFFFFFF, 0x40000, 0xFFFFFFFF, "KOVAMipiCsi2Frame");
const KOVATypeFilterBase kMetres(0, 0, KOVA::Float64, nullptr, "^m$");
const KOVATypeFilterBase kBroken(0, 0, KOVA::TypeMask, "(unclosed");

struct FilterCase {
    const char* name;
    const KOVATypeFilterBase* filter;
    KOVATypeInfo type;
    bool accepted;
};

/// Test names are enough to identify a case in messages.
[[maybe_unused]] static void PrintTo(const FilterCase& c, std::ostream* os)
{
    *os << c.name;
}

class TypeFilter : public ::testing::TestWithParam<FilterCase> { };

TEST_P(TypeFilter, AcceptsExactlyTheTypesOfItsRule)
{
    EXPECT_EQ(GetParam().filter->Accepts(GetParam().type), GetParam().accepted);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TypeFilter,
    ::testing::Values(
        FilterCase{ "ImageFilterTakesIplImage", &kImageFilter, { KOVA::IplImage, "", "" }, true },
        FilterCase{ "ImageFilterTakesKOVAImage", &kImageFilter, { KOVA::KOVAImage, "", "" }, true },
        FilterCase{ "ImageFilterTakesStream8", &kImageFilter, { KOVA::Stream8, "", "" }, true },
        FilterCase{
            "ImageFilterTakesAnyDynamicStructure", &kImageFilter, { KOVA::DynamicStructure, "Other", "" }, true },
        FilterCase{ "ImageFilterRefusesInteger64", &kImageFilter, { KOVA::Integer64, "", "" }, false },
        FilterCase{ "ImageFilterRefusesANamelessType", &kImageFilter, { KOVA::IplImage, nullptr, nullptr }, false },
        FilterCase{ "IgnoreNameFlagSkipsTheNameCheck",
                    &kImageFilter,
                    { KOVA::IplImage | KOVA::IgnoreNameFlag, nullptr, nullptr },
                    true },
        FilterCase{ "Integer64FilterTakesInteger64", &KOVA::FilterInteger64, { KOVA::Integer64, "", "" }, true },
        FilterCase{ "Integer64FilterRefusesInteger32", &KOVA::FilterInteger64, { KOVA::Integer32, "", "" }, false },
        FilterCase{ "Stream8FilterTakesStream8", &KOVA::FilterStream8, { KOVA::Stream8, nullptr, nullptr }, true },
        FilterCase{ "ExactFilterTakesTheNamedStructure",
                    &kCsi2Exact,
                    { KOVA::DynamicStructure, "KOVAMipiCsi2Frame", "" },
                    true },
        FilterCase{
            "ExactFilterRefusesAnotherName", &kCsi2Exact, { KOVA::DynamicStructure, "KOVAImageFrame", "" }, false },
        FilterCase{ "ExactFilterRefusesAnExtraKindBit",
                    &kCsi2Exact,
                    { KOVA::DynamicStructure | KOVA::Structure, "KOVAMipiCsi2Frame", "" },
                    false },
        FilterCase{ "UnitFilterTakesItsUnit", &kMetres, { KOVA::Float64, "", "m" }, true },
        FilterCase{ "UnitFilterRefusesAnotherUnit", &kMetres, { KOVA::Float64, "", "mm" }, false },
        FilterCase{
            "IgnoreUnitFlagSkipsTheUnitCheck", &kMetres, { KOVA::Float64 | KOVA::IgnoreUnitFlag, "", nullptr }, true },
        FilterCase{ "BrokenExpressionAcceptsNothing", &kBroken, { KOVA::Integer64, "x", "" }, false }),
    [](const auto& testCase) { return std::string(testCase.param.name); });

TEST(TypeFilterDescription, NamesTheKindsAndTheBrokenExpression)
{
    KOVA::StringReceiver text;
    kImageFilter.Describe(text);
    EXPECT_EQ(text.Text(), "kinds IplImage|KOVAImage|Stream8|DynamicStructure, name /|KOVAMipiCsi2Frame/");
    kBroken.Describe(text);
    EXPECT_NE(text.Text().find("invalid regular expression"), std::string::npos) << text.Text();
}

} // namespace
