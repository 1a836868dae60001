#include "KOVAHostRawFrameSource.h"

#include "abi/KOVATableEnd.h"
#include "abi/KOVAThreadedComponent.h"
#include "KOVAHostSourceProperties.h"

#include "../../components/image_converter/RawFrameHeader.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr KOVAPropertyDefault kWidth = KOVAPropertyDefault::Integer(1280);
constexpr KOVAPropertyDefault kHeight = KOVAPropertyDefault::Integer(800);
constexpr KOVAPropertyDefault kFormat = KOVAPropertyDefault::Enum("YUV422|Mono", 0);
constexpr KOVAPropertyDefault kPattern = KOVAPropertyDefault::Enum("Ramp|Constant", 0);
constexpr KOVAPropertyDefault kValue = KOVAPropertyDefault::Integer(0x3FF);
constexpr KOVAPropertyDefault kAuto = KOVAPropertyDefault::Integer(-1);
constexpr KOVAPropertyDefault kHeaderSection = KOVAPropertyDefault::Text("Frame header (-1: the right value)");

using host_sources::row;

const KOVAPropertyDefinition kProperties[] = {
    row("Width", &kWidth, "px"),
    row("Height", &kHeight, "px"),
    row("Format", &kFormat, nullptr),
    row("Pattern", &kPattern, nullptr),
    row("Value", &kValue, nullptr),
    row("header_begin", &kHeaderSection, nullptr, KOVA::PropertySubTypeBeginSubSection),
    row("HeaderFrameSize", &kAuto, "bytes"),
    row("HeaderBitsPerWord", &kAuto, nullptr),
    row("HeaderLines", &kAuto, nullptr),
    row("header_end", &host_sources::kSectionEnd, nullptr, KOVA::PropertySubTypeEndSubSection),
    row("FrameBytes", &kAuto, "bytes"),
    host_sources::PeriodUs,
    host_sources::Count,
    row("FirstFrameDelayUs", &host_sources::kZero, "us", KOVA::PropertySubTypeTime),
    row(nullptr, nullptr, nullptr),
};

const KOVAOutputDefinition kOutputs[] = {
    { .name = "Frames",
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

// Frames up to 256 MiB (for instance 8192 x 8192 YUV 4:2:2).
constexpr int64_t kLargestFrame = int64_t{ 1 } << 28;

} // namespace

const KOVAComponentDefinition KOVAHostRawFrameSource::s_componentDefinition =
    KOVA::ThreadedComponent({ .name = "HostRawFrameSource",
                              .version = "1.0.0",
                              .instantiate = &KOVAHostRawFrameSource::Instantiate,
                              .inputs = kInputs,
                              .outputs = kOutputs,
                              .properties = kProperties,
                              .actions = kActions });

KOVA_REGISTER_COMPONENT(KOVAHostRawFrameSource, KOVAHostRawFrameSource::s_componentDefinition);
KOVA_MODULE_MARKER(moduleDescr, "HostRawFrameSource", "1.0.0");

KOVAComponent* KOVAHostRawFrameSource::Instantiate(const char* name, const KOVAComponentDefinition* definition)
{
    return new KOVAHostRawFrameSource(name, definition);
}

uint16_t KOVAHostRawFrameSource::PatternWord(int64_t pattern, uint64_t index, uint64_t frame, uint16_t value)
{
    return pattern == 0 ? static_cast<uint16_t>(index + frame) : value;
}

void KOVAHostRawFrameSource::Birth()
{
    int64_t value = 0;
    Get(Property("Width"), width_);
    Get(Property("Height"), height_);
    Get(Property("Format"), format_);
    Get(Property("Pattern"), pattern_);
    Get(Property("Value"), value);
    Get(Property("HeaderFrameSize"), headerFrameSize_);
    Get(Property("HeaderBitsPerWord"), headerBitsPerWord_);
    Get(Property("HeaderLines"), headerLines_);
    Get(Property("FrameBytes"), frameBytes_);
    pacing_.Birth(*this, "FirstFrameDelayUs");
    if (width_ < 1 || height_ < 1 || width_ > 16384 || height_ > 16384)
        Error("[Birth] Width and Height must be between 1 and 16384");
    if (value < 0 || value > 0xFFFF)
        Error("[Birth] Value must be between 0 and 65535");
    value_ = static_cast<uint16_t>(value);
    if (headerFrameSize_ < -1 || headerFrameSize_ > 0xFFFFFFFF)
        Error("[Birth] HeaderFrameSize must be -1 or between 0 and 4294967295");
    if (headerBitsPerWord_ < -1 || headerBitsPerWord_ > 0xFF)
        Error("[Birth] HeaderBitsPerWord must be -1 or between 0 and 255");
    if (headerLines_ < -1 || headerLines_ > 0xFFFF)
        Error("[Birth] HeaderLines must be -1 or between 0 and 65535");
    const int64_t wordsPerPixel = format_ == 0 ? 2 : 1;
    if (frameBytes_ == -1)
        frameBytes_ = static_cast<int64_t>(qir::raw::FrameHeaderSize) + width_ * height_ * wordsPerPixel * 2;
    if (frameBytes_ < 0 || frameBytes_ > kLargestFrame)
        Error("[Birth] FrameBytes must be -1 or between 0 and 268435456");
    Output("Frames")->AllocOutputBuffer(static_cast<int32_t>(std::max<int64_t>(frameBytes_, 1)));
}

void KOVAHostRawFrameSource::WriteFrame(uint8_t* bytes)
{
    const int64_t wordsPerPixel = format_ == 0 ? 2 : 1;
    const int64_t fullBytes = static_cast<int64_t>(qir::raw::FrameHeaderSize) + width_ * height_ * wordsPerPixel * 2;
    uint8_t header[qir::raw::FrameHeaderSize];
    qir::raw::WriteFrameHeader(
        header,
        { .frameSize = static_cast<uint32_t>(headerFrameSize_ >= 0 ? headerFrameSize_ : frameBytes_),
          .bitsPerWord = static_cast<uint8_t>(headerBitsPerWord_ >= 0 ? headerBitsPerWord_ : 16),
          .lines = static_cast<uint16_t>(headerLines_ >= 0 ? headerLines_ : height_) });
    std::memcpy(bytes, header, static_cast<size_t>(std::min<int64_t>(frameBytes_, sizeof header)));
    // Pixel words as far as the frame reaches; a longer frame ends in zeros.
    const int64_t end = std::min(frameBytes_, fullBytes);
    const auto frame = static_cast<uint64_t>(pacing_.Index());
    for (int64_t at = static_cast<int64_t>(qir::raw::FrameHeaderSize); at < end; at += 2) {
        const uint64_t index = static_cast<uint64_t>(at - static_cast<int64_t>(qir::raw::FrameHeaderSize)) / 2;
        const uint16_t word = PatternWord(pattern_, index, frame, value_);
        bytes[at] = static_cast<uint8_t>(word);
        if (at + 1 < end)
            bytes[at + 1] = static_cast<uint8_t>(word >> 8);
    }
    if (frameBytes_ > end)
        std::memset(bytes + end, 0, static_cast<size_t>(frameBytes_ - end));
}

void KOVAHostRawFrameSource::Core()
{
    pacing_.BeforeFrame(*this);
    {
        KOVA::OutputGuard<uint8_t> sample(this, Output("Frames"));
        if (!sample)
            return;
        WriteFrame(sample.Get());
        sample.Element()->VectorSize() = static_cast<int32_t>(frameBytes_);
        sample.Element()->Timestamp() = KOVA::CurrentTime();
    }
    pacing_.AfterFrame(*this);
}
