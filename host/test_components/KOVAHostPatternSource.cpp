#include "KOVAHostPatternSource.h"

#include "abi/KOVATableEnd.h"
#include "abi/KOVAThreadedComponent.h"
#include "KOVAHostSourceProperties.h"

#include <cstring>

namespace {

constexpr KOVAPropertyDefault kWidth = KOVAPropertyDefault::Integer(320);
constexpr KOVAPropertyDefault kHeight = KOVAPropertyDefault::Integer(240);
constexpr KOVAPropertyDefault kPattern = KOVAPropertyDefault::Enum("Ramp|Checker|Counter", 0);
constexpr KOVAPropertyDefault kStreamBytes = KOVAPropertyDefault::Integer(4096);
constexpr KOVAPropertyDefault kImageSection = KOVAPropertyDefault::Text("Image");

const KOVAPropertyDefinition kProperties[] = {
    host_sources::sectionBegin("image_begin", &kImageSection),
    host_sources::row("Width", &kWidth, "px"),
    host_sources::row("Height", &kHeight, "px"),
    host_sources::row("Pattern", &kPattern, nullptr),
    host_sources::sectionEnd("image_end"),
    host_sources::row("StreamBytes", &kStreamBytes, "bytes"),
    host_sources::PeriodUs,
    host_sources::Count,
    KOVA::EndOfProperties,
};

const KOVAOutputDefinition kOutputs[] = {
    { .name = "Image",
      .reserved = 0,
      .type = { .code = KOVA::IplImage, .name = "", .unit = "" },
      .size = 0,
      .fifoSize = 8,
      .subsampling = 1,
      .shareable = 1 },
    { .name = "Bytes",
      .reserved = 0,
      .type = { .code = KOVA::Stream8, .name = "", .unit = "" },
      .size = 0,
      .fifoSize = 8,
      .subsampling = 1,
      .shareable = 1 },
    KOVA::EndOfOutputs,
};

const KOVAInputDefinition kInputs[] = { KOVA::EndOfInputs };
const KOVAActionDefinition kActions[] = { KOVA::EndOfActions };

} // namespace

const KOVAComponentDefinition KOVAHostPatternSource::s_componentDefinition =
    KOVA::ThreadedComponent({ .name = "HostPatternSource",
                              .version = "1.0.0",
                              .instantiate = &KOVAHostPatternSource::Instantiate,
                              .inputs = kInputs,
                              .outputs = kOutputs,
                              .properties = kProperties,
                              .actions = kActions });

KOVA_REGISTER_COMPONENT(KOVAHostPatternSource, KOVAHostPatternSource::s_componentDefinition);
KOVA_MODULE_MARKER(moduleDescr, "HostPatternSource", "1.0.0");

KOVAComponent* KOVAHostPatternSource::Instantiate(const char* name, const KOVAComponentDefinition* definition)
{
    return new KOVAHostPatternSource(name, definition);
}

void KOVAHostPatternSource::Birth()
{
    const int64_t width = host_sources::boundedProperty(*this, "Width", 1, 16384);
    const int64_t height = host_sources::boundedProperty(*this, "Height", 1, 16384);
    Get(Property("Pattern"), pattern_);
    Get(Property("PeriodUs"), periodUs_);
    Get(Property("Count"), count_);
    streamBytes_ = host_sources::boundedProperty(*this, "StreamBytes", 1, int64_t{ 1 } << 24);
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
