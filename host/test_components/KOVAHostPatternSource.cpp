#include "KOVAHostPatternSource.h"

#include <cstring>

namespace {

constexpr KOVAPropertyDefault kWidth = KOVAPropertyDefault::Integer(320);
constexpr KOVAPropertyDefault kHeight = KOVAPropertyDefault::Integer(240);
constexpr KOVAPropertyDefault kPattern = KOVAPropertyDefault::Enum("Ramp|Checker|Counter", 0);
constexpr KOVAPropertyDefault kPeriod = KOVAPropertyDefault::Integer(40000);
constexpr KOVAPropertyDefault kCount = KOVAPropertyDefault::Integer(0);
constexpr KOVAPropertyDefault kStreamBytes = KOVAPropertyDefault::Integer(4096);
constexpr KOVAPropertyDefault kImageSection = KOVAPropertyDefault::Text("Image");
constexpr KOVAPropertyDefault kSectionEnd = KOVAPropertyDefault::Bool(true);

const KOVAPropertyDefinition kProperties[] = {
    { "image_begin", &kImageSection, nullptr, false, false, true, true, KOVA::PropertySubTypeBeginSubSection },
    { "Width", &kWidth, "px", false, false, false, true, 0 },
    { "Height", &kHeight, "px", false, false, false, true, 0 },
    { "Pattern", &kPattern, nullptr, false, false, false, true, 0 },
    { "image_end", &kSectionEnd, nullptr, false, false, true, true, KOVA::PropertySubTypeEndSubSection },
    { "StreamBytes", &kStreamBytes, "bytes", false, false, false, true, 0 },
    { "PeriodUs", &kPeriod, "us", false, false, false, true, KOVA::PropertySubTypeTime },
    { "Count", &kCount, nullptr, false, false, false, true, 0 },
    { nullptr, nullptr, nullptr, false, false, false, false, 0 },
};

const KOVAOutputDefinition kOutputs[] = {
    { "Image", 0, { KOVA::IplImage, "", "" }, 0, 8, 1, 1 },
    { "Bytes", 0, { KOVA::Stream8, "", "" }, 0, 8, 1, 1 },
    { nullptr, 0, { 0, nullptr, nullptr }, 0, 0, 0, 0 },
};

const KOVAInputDefinition kInputs[] = { { nullptr, 0, nullptr, 0, 0 } };
const KOVAActionDefinition kActions[] = { { nullptr, nullptr, false, { 0, 0, 0 } } };

} // namespace

const KOVAComponentDefinition KOVAHostPatternSource::s_componentDefinition = {
    "HostPatternSource",
    "1.0.0",
    &KOVAHostPatternSource::Instantiate,
    nullptr,
    nullptr,
    0,
    KOVA::AllEntries,
    kInputs,
    KOVA::AllEntries,
    kOutputs,
    KOVA::AllEntries,
    kProperties,
    KOVA::AllEntries,
    kActions,
    128,
    1,
    true,
    0,
};

KOVA_REGISTER_COMPONENT(KOVAHostPatternSource, KOVAHostPatternSource::s_componentDefinition);
KOVA_MODULE_MARKER(moduleDescr, "HostPatternSource", "1.0.0");

KOVAComponent* KOVAHostPatternSource::Instantiate(const char* name, const KOVAComponentDefinition* definition)
{
    return new KOVAHostPatternSource(name, definition);
}

void KOVAHostPatternSource::Birth()
{
    int64_t width = 0;
    int64_t height = 0;
    Get(Property("Width"), width);
    Get(Property("Height"), height);
    Get(Property("Pattern"), pattern_);
    Get(Property("PeriodUs"), periodUs_);
    Get(Property("Count"), count_);
    Get(Property("StreamBytes"), streamBytes_);
    if (width < 1 || height < 1 || width > 16384 || height > 16384)
        Error("[Birth] Width and Height must be between 1 and 16384");
    if (streamBytes_ < 1 || streamBytes_ > (int64_t{ 1 } << 24))
        Error("[Birth] StreamBytes must be between 1 and 16777216");
    const IplImage model = KOVA::IplImageModel(static_cast<int32_t>(width), static_cast<int32_t>(height), "BGR",
                                               KOVA::IplDataOrderPixel, 8, 4);
    Output("Image")->AllocOutputBufferIplImage(model, false);
    Output("Bytes")->AllocOutputBuffer(static_cast<int32_t>(streamBytes_));
    sent_ = 0;
}

void KOVAHostPatternSource::WriteImage(KOVATimestamp now)
{
    KOVA::OutputGuard<IplImage> sample(this, Output("Image"));
    if (!sample)
        return;
    IplImage* image = sample.Get();
    for (int32_t y = 0; y < image->height; ++y) {
        auto* row = reinterpret_cast<uint8_t*>(image->imageData) + static_cast<ptrdiff_t>(y) * image->widthStep;
        for (int32_t x = 0; x < image->width * image->nChannels; ++x) {
            uint8_t value = 0;
            if (pattern_ == 0)
                value = static_cast<uint8_t>(x + y + sent_);
            else if (pattern_ == 1)
                value = ((x / image->nChannels / 16 + y / 16 + sent_) & 1) ? 255 : 0;
            else
                value = static_cast<uint8_t>(sent_);
            row[x] = value;
        }
    }
    sample.Element()->Timestamp() = now;
}

void KOVAHostPatternSource::WriteBytes(KOVATimestamp now)
{
    KOVA::OutputGuard<uint8_t> sample(this, Output("Bytes"));
    if (!sample)
        return;
    uint8_t* bytes = sample.Get();
    for (int64_t i = 0; i < streamBytes_; ++i)
        bytes[i] = static_cast<uint8_t>(i + sent_);
    sample.Element()->VectorSize() = static_cast<int32_t>(streamBytes_);
    sample.Element()->Timestamp() = now;
}

void KOVAHostPatternSource::Core()
{
    if (count_ > 0 && sent_ >= count_)
        Finish();
    const KOVATimestamp now = KOVA::CurrentTime();
    WriteImage(now);
    WriteBytes(now);
    ++sent_;
    if (periodUs_ > 0)
        Rest(periodUs_);
}
