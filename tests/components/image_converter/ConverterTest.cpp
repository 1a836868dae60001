// The raw image converter component, driven frame by frame on the test
// thread between a feeder of raw frames and a reader defined like the unit
// client's image input.
#include "AllocationCounter.h"
#include "ConverterFixture.h"
#include "abi/KOVAPackageEntry.h"

#include <gmock/gmock.h>

#include <cstring>
#include <ostream>

using converter_test::ConverterFixture;
using converter_test::Frame;
using converter_test::Image;
using converter_test::PatternFrame;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::HasSubstr;

namespace {

/// The packed pixel of the word pair (a, b), written out bit by bit.
std::vector<uint8_t> PackedPixel(uint16_t a, uint16_t b)
{
    uint32_t v = 0;
    for (int bit = 0; bit < 10; ++bit) {
        v |= ((a >> bit) & 1u) << (2 + bit);
        v |= ((b >> bit) & 1u) << (14 + bit);
    }
    return { static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16) };
}

uint16_t Ramp(uint64_t index)
{
    return static_cast<uint16_t>(index * 37 + 0x1234);
}

/// The image a YUV 4:2:2 frame of Ramp words converts into: row r's pixels.
std::vector<uint8_t> ExpectedYuvRow(uint32_t width, uint32_t r)
{
    std::vector<uint8_t> row;
    for (uint32_t c = 0; c < width; ++c) {
        const uint64_t first = (static_cast<uint64_t>(r) * width + c) * 2;
        const auto pixel = PackedPixel(Ramp(first), Ramp(first + 1));
        row.insert(row.end(), pixel.begin(), pixel.end());
    }
    return row;
}

bool AllZero(const std::vector<uint8_t>& bytes)
{
    for (uint8_t b : bytes) {
        if (b != 0)
            return false;
    }
    return true;
}

} // namespace

TEST_F(ConverterFixture, DefinitionOffersOneByteStreamInputOneImageOutputAndSevenProperties)
{
    const KOVAComponentDefinition& d = KOVAraw2qir_ipl::s_componentDefinition;
    EXPECT_STREQ(d.name, "VxQirImageConverter");
    EXPECT_STREQ(d.version, "1.0.0");
    EXPECT_EQ(d.maxNumberOfInstances, 0u);
    EXPECT_EQ(d.priority, 128);
    EXPECT_EQ(d.kind, 1u);
    EXPECT_TRUE(d.threaded);
    EXPECT_STREQ(d.inputs[0].name, "frame_in");
    EXPECT_EQ(d.inputs[0].typeFilter, &KOVA::FilterStream8);
    EXPECT_EQ(d.inputs[0].readerType, KOVA::FifoReader);
    EXPECT_EQ(d.inputs[1].name, nullptr);
    EXPECT_STREQ(d.outputs[0].name, "QIR_IPLImage");
    EXPECT_EQ(d.outputs[0].type.code, KOVA::IplImage);
    ASSERT_NE(d.outputs[0].type.name, nullptr);
    EXPECT_STREQ(d.outputs[0].type.name, "");
    EXPECT_EQ(d.outputs[0].size, 0);
    EXPECT_EQ(d.outputs[0].fifoSize, 16);
    EXPECT_EQ(d.outputs[1].name, nullptr);
    EXPECT_EQ(d.actions[0].name, nullptr);

    std::vector<std::string> names;
    for (const KOVAPropertyDefinition* p = d.properties; p->name; ++p) {
        names.emplace_back(p->name);
        EXPECT_EQ(p->unit, nullptr) << p->name;
        EXPECT_TRUE(p->locked) << p->name;
    }
    EXPECT_THAT(
        names,
        ElementsAre("Width", "Height", "BitPx_In", "UsedBitPx_In", "InputFormat", "Alignment_In", "OutputFormat"));
    EXPECT_EQ(converter->GetEnum("InputFormat").ChoicesText(), "YUV422|Mono");
    EXPECT_EQ(converter->GetEnum("Alignment_In").ChoicesText(), "MSB|LSB");
    EXPECT_EQ(converter->GetEnum("OutputFormat").ChoicesText(), "YUYV_in_24bitRGB|Mono16Bit");
    EXPECT_EQ(converter->GetInteger("Width"), 1280);
    EXPECT_EQ(converter->GetInteger("Height"), 800);
    EXPECT_EQ(converter->GetInteger("BitPx_In"), 16);
    EXPECT_EQ(converter->GetInteger("UsedBitPx_In"), 10);
}

TEST_F(ConverterFixture, TheOutputConnectsToTheUnitClientsImageInputWhichRefusesATypeWithoutName)
{
    EXPECT_TRUE(converter_test::UnitClientImageFilter().Accepts(converter->FindOutput("QIR_IPLImage")->Type()));
    EXPECT_FALSE(converter_test::UnitClientImageFilter().Accepts({ KOVA::IplImage, nullptr, nullptr }));
    EXPECT_EQ(Start(), KOVA::NoError); // connects, and fails the test if refused
}

// --- Birth: the image model per output format -----------------------------

struct ModelCase {
    const char* name;
    const char* outputFormat;
    int64_t width;
    int64_t height;
    const char* report;
    int32_t widthStep;
    int32_t nChannels;
    int32_t depth;
    const char* channelSeq;
};

[[maybe_unused]] static void PrintTo(const ModelCase& c, std::ostream* os)
{
    *os << c.name;
}

class ConverterModel : public ConverterFixture, public ::testing::WithParamInterface<ModelCase> { };

TEST_P(ConverterModel, BirthAllocatesTheImageOfTheOutputFormatAndReportsIt)
{
    const ModelCase& c = GetParam();
    Set("OutputFormat", c.outputFormat);
    Set("InputFormat", std::string(c.outputFormat) == "Mono16Bit" ? "Mono" : "YUV422");
    Set("Width", c.width);
    Set("Height", c.height);
    ASSERT_EQ(Start(), KOVA::NoError);
    EXPECT_THAT(Reports(KOVA::Warning), ElementsAre(c.report));
    const std::vector<uint8_t> frame(qir::raw::FrameHeaderSize, 0);
    Feed(frame);
    const Image image = ConvertOne();
    EXPECT_EQ(image.header.width, c.width);
    EXPECT_EQ(image.header.height, c.height);
    EXPECT_EQ(image.header.widthStep, c.widthStep);
    EXPECT_EQ(image.header.imageSize, c.widthStep * c.height);
    EXPECT_EQ(image.header.nChannels, c.nChannels);
    EXPECT_EQ(image.header.depth, c.depth);
    EXPECT_EQ(std::string(image.header.channelSeq, strnlen(image.header.channelSeq, 4)), c.channelSeq);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ConverterModel,
    ::testing::Values(ModelCase{ "RgbWithTheDefaultSize", "YUYV_in_24bitRGB", 1280, 800,
                                 "Output Image allocated: Width=1280, height=800, BitsPerPixel=24", 3840, 3, 8, "RGB" },
                      ModelCase{ "GrayWithTheDefaultSize", "Mono16Bit", 1280, 800,
                                 "Output Image allocated: Width=1280, height=800, BitsPerPixel=16", 2560, 1, 16,
                                 "GRAY" },
                      ModelCase{ "RgbRowsRoundedUpToEightBytes", "YUYV_in_24bitRGB", 3, 2,
                                 "Output Image allocated: Width=3, height=2, BitsPerPixel=24", 16, 3, 8, "RGB" },
                      ModelCase{ "GrayRowsRoundedUpToEightBytes", "Mono16Bit", 5, 1,
                                 "Output Image allocated: Width=5, height=1, BitsPerPixel=16", 16, 1, 16, "GRAY" }),
    ::testing::PrintToStringParamName());

// --- Core: what the pixels become ---------------------------------------

struct PixelCase {
    const char* name;
    const char* inputFormat;
    const char* outputFormat;
    std::vector<uint16_t> words; ///< one row of pixel words
    std::vector<uint8_t> row;    ///< the row of the output image
};

[[maybe_unused]] static void PrintTo(const PixelCase& c, std::ostream* os)
{
    *os << c.name;
}

class ConverterPixels : public ConverterFixture, public ::testing::WithParamInterface<PixelCase> { };

TEST_P(ConverterPixels, ConvertsTheWordsOfARowAndKeepsTheTimestamp)
{
    const PixelCase& c = GetParam();
    const bool mono = std::string(c.inputFormat) == "Mono";
    const auto width = static_cast<uint32_t>(mono ? c.words.size() : c.words.size() / 2);
    Set("InputFormat", c.inputFormat);
    Set("OutputFormat", c.outputFormat);
    Set("Width", width);
    Set("Height", 1);
    ASSERT_EQ(Start(), KOVA::NoError);
    const auto frameSize = static_cast<uint32_t>(qir::raw::FrameHeaderSize + 2 * c.words.size());
    Feed(Frame({ .frameSize = frameSize, .bitsPerWord = 16, .lines = 1 }, c.words), 987654321);
    const Image image = ConvertOne();
    EXPECT_THAT(image.Row(0, c.row.size()), ElementsAreArray(c.row));
    EXPECT_EQ(image.timestamp, 987654321);
    EXPECT_THAT(Reports(KOVA::Warning), ElementsAre(HasSubstr("Output Image allocated")));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ConverterPixels,
    ::testing::Values(
        PixelCase{ "FirstWordFillsBits2To11", "YUV422", "YUYV_in_24bitRGB", { 0x03FF, 0x0000 }, { 0xFC, 0x0F, 0x00 } },
        PixelCase{
            "SecondWordFillsBits14To23", "YUV422", "YUYV_in_24bitRGB", { 0x0000, 0x03FF }, { 0x00, 0xC0, 0xFF } },
        PixelCase{ "BitsAboveTheLowerTenAreDropped",
                   "YUV422",
                   "YUYV_in_24bitRGB",
                   { 0xFC00, 0xFC00, 0xFFFF, 0xFFFF, 0x8155, 0x42AA },
                   { 0x00, 0x00, 0x00, 0xFC, 0xCF, 0xFF, 0x54, 0x85, 0xAA } },
        PixelCase{ "MonoWordStoredLowByteFirst", "Mono", "Mono16Bit", { 0xABCD, 0x0001 }, { 0xCD, 0xAB, 0x01, 0x00 } }),
    ::testing::PrintToStringParamName());

TEST_F(ConverterFixture, EveryRowOfAFullFrameIsConvertedIntoItsRowOfTheImage)
{
    // 37 pixels: two blocks of sixteen and a remainder of five in every row.
    constexpr uint32_t width = 37;
    constexpr uint32_t height = 5;
    Set("Width", width);
    Set("Height", height);
    ASSERT_EQ(Start(), KOVA::NoError);
    Feed(PatternFrame(width, height, 2, &Ramp));
    const Image image = ConvertOne();
    ASSERT_EQ(image.header.widthStep, 112); // 111 rounded up to 8
    for (uint32_t r = 0; r < height; ++r) {
        EXPECT_THAT(image.Row(r, 3 * width), ElementsAreArray(ExpectedYuvRow(width, r))) << "row " << r;
        EXPECT_EQ(image.Row(r, 112)[111], 0) << "padding of row " << r;
    }
}

// --- Core: header checks (warnings only) ---------------------------------

struct HeaderCase {
    const char* name;
    qir::raw::FrameHeader header;
    std::vector<std::string> warnings;
};

[[maybe_unused]] static void PrintTo(const HeaderCase& c, std::ostream* os)
{
    *os << c.name;
}

class ConverterHeader : public ConverterFixture, public ::testing::WithParamInterface<HeaderCase> { };

TEST_P(ConverterHeader, WarnsAboutEachDisagreementAndConvertsTheConfiguredSizeAllTheSame)
{
    constexpr uint32_t width = 8;
    constexpr uint32_t height = 800;
    Set("Width", width);
    Set("Height", height);
    ASSERT_EQ(Start(), KOVA::NoError);
    std::vector<uint8_t> frame = PatternFrame(width, height, 2, &Ramp);
    qir::raw::WriteFrameHeader(frame.data(), GetParam().header);
    Feed(frame);
    kernel.Clear();
    const Image image = ConvertOne();
    EXPECT_THAT(Reports(KOVA::Warning), ElementsAreArray(GetParam().warnings));
    EXPECT_THAT(image.Row(height - 1, 3 * width), ElementsAreArray(ExpectedYuvRow(width, height - 1)));
}

constexpr uint32_t kRightSize = 64 + 8 * 800 * 4;

INSTANTIATE_TEST_SUITE_P(
    Cases, ConverterHeader,
    ::testing::Values(HeaderCase{ "RightHeader", { .frameSize = kRightSize, .bitsPerWord = 16, .lines = 800 }, {} },
                      HeaderCase{ "FewerLines",
                                  { .frameSize = kRightSize, .bitsPerWord = 16, .lines = 720 },
                                  { "Height in Frame Header does not match user selection!" } },
                      HeaderCase{ "OtherBitsPerWord",
                                  { .frameSize = kRightSize, .bitsPerWord = 12, .lines = 800 },
                                  { "BitPerPixel in Frame Header does not match user selection!" } },
                      // Width x Height x BitPx_In / 8 = 12800 bytes of pixels must fit.
                      HeaderCase{ "FrameSizeOneByteShort",
                                  { .frameSize = 64 + 12799, .bitsPerWord = 16, .lines = 800 },
                                  { "Framesize in Frame Header is too small for image" } },
                      HeaderCase{
                          "FrameSizeJustEnough", { .frameSize = 64 + 12800, .bitsPerWord = 16, .lines = 800 }, {} },
                      HeaderCase{ "FrameSizeSmallerThanTheHeader",
                                  { .frameSize = 10, .bitsPerWord = 16, .lines = 800 },
                                  { "Framesize in Frame Header is too small for image" } },
                      HeaderCase{ "AllThreeWrong",
                                  { .frameSize = 0, .bitsPerWord = 8, .lines = 0 },
                                  { "Height in Frame Header does not match user selection!",
                                    "BitPerPixel in Frame Header does not match user selection!",
                                    "Framesize in Frame Header is too small for image" } }),
    ::testing::PrintToStringParamName());

// --- Core: frames that do not fill the image ------------------------------

TEST_F(ConverterFixture, AShortFrameConvertsItsWholeRowsZeroesTheRestAndWarnsOnce)
{
    constexpr uint32_t width = 20;
    constexpr uint32_t height = 6;
    Set("Width", width);
    Set("Height", height);
    Set("QIR_IPLImage.fifosize", 1); // every image in the same buffer
    ASSERT_EQ(Start(), KOVA::NoError);
    Feed(PatternFrame(width, height, 2, [](uint64_t) -> uint16_t { return 0x3FF; }));
    ASSERT_EQ(ConvertOne().Row(height - 1, 3)[0], 0xFC); // the buffer holds a full image now

    // Two whole rows and half of the third; the feeder's bytes past them are 0xEE.
    std::vector<uint8_t> frame = PatternFrame(width, height, 2, &Ramp);
    frame.resize(64 + 2 * width * 4 + width * 2);
    kernel.Clear();
    Feed(frame);
    const Image image = ConvertOne();
    EXPECT_THAT(image.Row(0, 3 * width), ElementsAreArray(ExpectedYuvRow(width, 0)));
    EXPECT_THAT(image.Row(1, 3 * width), ElementsAreArray(ExpectedYuvRow(width, 1)));
    for (uint32_t r = 2; r < height; ++r)
        EXPECT_TRUE(AllZero(image.Row(r, image.header.widthStep))) << "row " << r;
    EXPECT_THAT(Reports(KOVA::Warning),
                ElementsAre("[Core] Frame of 264 bytes is shorter than the 544 bytes the conversion needs; "
                            "converted 2 of 6 lines, the others are zero"));
}

TEST_F(ConverterFixture, AFrameWithoutACompleteHeaderGivesAnImageOfZeros)
{
    Set("Width", 4);
    Set("Height", 2);
    Set("InputFormat", "Mono");
    Set("OutputFormat", "Mono16Bit");
    ASSERT_EQ(Start(), KOVA::NoError);
    kernel.Clear();
    Feed(std::vector<uint8_t>(10, 0x55));
    const Image image = ConvertOne();
    EXPECT_TRUE(AllZero(image.bytes));
    EXPECT_THAT(Reports(KOVA::Warning),
                ElementsAre("[Core] Frame of 10 bytes is shorter than the 80 bytes the conversion needs; "
                            "converted 0 of 2 lines, the others are zero"));
}

struct MismatchCase {
    const char* name;
    const char* inputFormat;
    const char* outputFormat;
    const char* warning;
};

[[maybe_unused]] static void PrintTo(const MismatchCase& c, std::ostream* os)
{
    *os << c.name;
}

class ConverterMismatch : public ConverterFixture, public ::testing::WithParamInterface<MismatchCase> { };

TEST_P(ConverterMismatch, PublishesImagesOfZerosAndWarnsOncePerRun)
{
    const MismatchCase& c = GetParam();
    Set("Width", 16);
    Set("Height", 4);
    Set("InputFormat", c.inputFormat);
    Set("OutputFormat", c.outputFormat);
    Set("QIR_IPLImage.fifosize", 1); // every image in the same buffer
    for (int run = 0; run < 2; ++run) {
        ASSERT_EQ(Start(), KOVA::NoError);
        kernel.Clear();
        for (int i = 0; i < 3; ++i) {
            Feed(PatternFrame(16, 4, 2, &Ramp));
            EXPECT_TRUE(AllZero(ConvertOne(/*scribble=*/true).bytes)) << "run " << run << ", frame " << i;
        }
        EXPECT_THAT(Reports(KOVA::Warning), ElementsAre(c.warning)) << "run " << run;
        EXPECT_THAT(Reports(KOVA::Info), ElementsAre()) << "run " << run;
        Stop();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ConverterMismatch,
    ::testing::Values(MismatchCase{ "YuvIntoGray", "YUV422", "Mono16Bit",
                                    "[Core] InputFormat YUV422 cannot be converted to OutputFormat Mono16Bit; the "
                                    "output images are empty (all zero)" },
                      MismatchCase{ "MonoIntoRgb", "Mono", "YUYV_in_24bitRGB",
                                    "[Core] InputFormat Mono cannot be converted to OutputFormat YUYV_in_24bitRGB; "
                                    "the output images are empty (all zero)" }),
    ::testing::PrintToStringParamName());

// --- reports per run and frame -------------------------------------------

TEST_F(ConverterFixture, TheConversionIsReportedOncePerRunOnItsFirstFrame)
{
    Set("Width", 4);
    Set("Height", 2);
    Set("UsedBitPx_In", 12);
    for (int run = 0; run < 2; ++run) {
        ASSERT_EQ(Start(), KOVA::NoError);
        EXPECT_THAT(Reports(KOVA::Info), ElementsAre()) << "run " << run;
        for (int i = 0; i < 3; ++i) {
            Feed(PatternFrame(4, 2, 2, &Ramp));
            ConvertOne();
        }
        EXPECT_THAT(Reports(KOVA::Info), ElementsAre("Transforming YUV422 (12 Bits per Pixel) to YUVU, saved in RGB24"))
            << "run " << run;
        Stop();
        kernel.Clear();
    }
}

TEST_F(ConverterFixture, MonoWithOtherBitsPerWordWarnsOncePerFrameAndCopiesTheWordsWhole)
{
    Set("Width", 3);
    Set("Height", 2);
    Set("InputFormat", "Mono");
    Set("OutputFormat", "Mono16Bit");
    Set("BitPx_In", 12);
    ASSERT_EQ(Start(), KOVA::NoError);
    kernel.Clear();
    for (int i = 0; i < 2; ++i) {
        std::vector<uint8_t> frame = PatternFrame(3, 2, 1, [](uint64_t) -> uint16_t { return 0xF123; });
        frame[qir::raw::BitsPerWordOffset] = 12; // the header agrees with BitPx_In
        Feed(frame);
        EXPECT_THAT(ConvertOne().Row(1, 6), ElementsAre(0x23, 0xF1, 0x23, 0xF1, 0x23, 0xF1));
    }
    EXPECT_THAT(Reports(KOVA::Info), ElementsAre("Transforming Mono (10 Bits per Pixel) to Mono 16 Bit"));
    EXPECT_EQ(Count(KOVA::Warning, "Incoming data has more than 16 Bit per Px. Data loss may occure!"), 2u);
    EXPECT_EQ(Reports(KOVA::Warning).size(), 2u);
}

// --- runs ---------------------------------------------------------------

TEST_F(ConverterFixture, ASecondRunAllocatesItsBuffersAgainAlsoAfterAnAbandonedRun)
{
    Set("Width", 4);
    Set("Height", 2);
    ASSERT_EQ(Start(), KOVA::NoError);
    Stop(); // buffers released by the engine
    ASSERT_EQ(Start(), KOVA::NoError);
    Stop(/*abandoned=*/true); // buffers left behind
    Set("Width", 6);
    Set("OutputFormat", "Mono16Bit");
    Set("InputFormat", "Mono");
    ASSERT_EQ(Start(), KOVA::NoError);
    EXPECT_THAT(Reports(KOVA::Error), ElementsAre());
    Feed(PatternFrame(6, 2, 1, &Ramp));
    const Image image = ConvertOne();
    EXPECT_EQ(image.header.width, 6);
    EXPECT_EQ(image.header.nChannels, 1);
    EXPECT_EQ(image.header.widthStep, 16);
}

struct RefusedCase {
    const char* name;
    const char* property;
    int64_t value;
    const char* error;
};

[[maybe_unused]] static void PrintTo(const RefusedCase& c, std::ostream* os)
{
    *os << c.name;
}

class ConverterRefuses : public ConverterFixture, public ::testing::WithParamInterface<RefusedCase> { };

TEST_P(ConverterRefuses, ASizeTheImageCannotHaveFailsBirth)
{
    Set(GetParam().property, GetParam().value);
    EXPECT_EQ(Start(), KOVA::ErrorException);
    EXPECT_THAT(Reports(KOVA::Error), ElementsAre(GetParam().error));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ConverterRefuses,
    ::testing::Values(
        RefusedCase{ "WidthZero", "Width", 0,
                     "[Birth] Width and Height must be between 1 and 2147483647 (Width=0, Height=800)" },
        RefusedCase{ "NegativeHeight", "Height", -1,
                     "[Birth] Width and Height must be between 1 and 2147483647 (Width=1280, Height=4294967295)" }),
    ::testing::PrintToStringParamName());

TEST_F(ConverterFixture, AFrameAfterTheFirstIsConvertedWithoutAllocating)
{
    Set("Width", 64);
    Set("Height", 16);
    ASSERT_EQ(Start(), KOVA::NoError);
    const std::vector<uint8_t> frame = PatternFrame(64, 16, 2, &Ramp);
    Feed(frame);
    ConvertOne(); // the first frame gives the conversion report
    Feed(frame);
    const uint64_t before = qir::test::thread_allocation_count();
    EXPECT_EQ(converter->EngineCore(), KOVA::NoError);
    EXPECT_EQ(qir::test::thread_allocation_count(), before);
}

TEST(ConverterPackage, ThePackageListsTheUnitClientAndTheConverter)
{
    TestKernel::Installed();
    ASSERT_EQ(KOVAGetModulesDefStruct(nullptr, nullptr, 0), 2);
    const KOVAComponentDefinition* definitions[2] = {};
    ASSERT_EQ(KOVAGetModulesDefStruct(nullptr, definitions, 2), 2);
    EXPECT_THAT((std::vector<std::string>{ definitions[0]->name, definitions[1]->name }),
                ::testing::UnorderedElementsAre("VxQirUnitClient", "VxQirImageConverter"));
}
