#include "KOVAHostCodedImageSource.h"

#include <cstring>

namespace {

using namespace vxqir::frames;

constexpr KOVAPropertyDefault kWidth = KOVAPropertyDefault::Integer(1920);
constexpr KOVAPropertyDefault kHeight = KOVAPropertyDefault::Integer(3);
constexpr KOVAPropertyDefault kAuto = KOVAPropertyDefault::Integer(0);
constexpr KOVAPropertyDefault kMaxPayload = KOVAPropertyDefault::Integer(8948);
constexpr KOVAPropertyDefault kOff = KOVAPropertyDefault::Bool(false);
constexpr KOVAPropertyDefault kPattern = KOVAPropertyDefault::Enum("Ramp|Counter|Noise", 2);
constexpr KOVAPropertyDefault kPeriod = KOVAPropertyDefault::Integer(40000);
constexpr KOVAPropertyDefault kZero = KOVAPropertyDefault::Integer(0);
constexpr KOVAPropertyDefault kImageSection = KOVAPropertyDefault::Text("Image");
constexpr KOVAPropertyDefault kSectionEnd = KOVAPropertyDefault::Bool(true);

const KOVAPropertyDefinition kProperties[] = {
    {"image_begin", &kImageSection, nullptr, false, false, true, true, KOVA::PropertySubTypeBeginSubSection},
    {"Width", &kWidth, "px", false, false, false, true, 0},
    {"Height", &kHeight, nullptr, false, false, false, true, 0},
    {"MinImageSize", &kAuto, "bytes", false, false, false, true, 0},
    {"MaxImageSize", &kAuto, "bytes", false, false, false, true, 0},
    {"Pattern", &kPattern, nullptr, false, false, false, true, 0},
    {"image_end", &kSectionEnd, nullptr, false, false, true, true, KOVA::PropertySubTypeEndSubSection},
    {"MaxPayLoadSize", &kMaxPayload, "bytes", false, false, false, true, 0},
    {"ReportChecksums", &kOff, nullptr, false, false, false, true, 0},
    {"StartDelayUs", &kZero, "us", false, false, false, true, KOVA::PropertySubTypeTime},
    {"PeriodUs", &kPeriod, "us", false, false, false, true, KOVA::PropertySubTypeTime},
    {"Count", &kZero, nullptr, false, false, false, true, 0},
    {nullptr, nullptr, nullptr, false, false, false, false, 0},
};

const KOVAOutputDefinition kOutputs[] = {
    {"Images", 0, {KOVA::KOVAImage, "", ""}, 0, 8, 1, 1},
    {nullptr, 0, {0, nullptr, nullptr}, 0, 0, 0, 0},
};

const KOVAInputDefinition kInputs[] = {{nullptr, 0, nullptr, 0, 0}};
const KOVAActionDefinition kActions[] = {{nullptr, nullptr, false, {0, 0, 0}}};

int64_t boundedProperty(KOVAComponent& component, const char* name, int64_t low, int64_t high)
{
    int64_t value = 0;
    component.Get(component.Property(name), value);
    if (value < low || value > high) {
        component.Error(KOVAStreamedString() << "[Birth] " << name << " is " << value << ", it must be between " << low
                                             << " and " << high);
    }
    return value;
}

constexpr char IMAGE_CODING[4] = { 'Q', 'T', 'S', 'T' };

} // namespace

const KOVAComponentDefinition KOVAHostCodedImageSource::s_componentDefinition = {
    "HostCodedImageSource", "1.0.0", &KOVAHostCodedImageSource::Instantiate, nullptr, nullptr, 0,
    KOVA::AllEntries,       kInputs, KOVA::AllEntries, kOutputs, KOVA::AllEntries, kProperties,
    KOVA::AllEntries,       kActions, 128, 1, true, 0,
};

KOVA_REGISTER_COMPONENT(KOVAHostCodedImageSource, KOVAHostCodedImageSource::s_componentDefinition);
KOVA_MODULE_MARKER(moduleDescr, "HostCodedImageSource", "1.0.0");

KOVAComponent* KOVAHostCodedImageSource::Instantiate(const char* name, const KOVAComponentDefinition* definition)
{
    return new KOVAHostCodedImageSource(name, definition);
}

void KOVAHostCodedImageSource::Birth()
{
    width_ = static_cast<int32_t>(boundedProperty(*this, "Width", 0, 65535));
    height_ = static_cast<int32_t>(boundedProperty(*this, "Height", 0, 65535));
    packetBytes_ = codedImagePacketBytes(static_cast<uint16_t>(boundedProperty(*this, "MaxPayLoadSize", 8, 65535)));
    // By default the sizes keep every image at `Height` packets, so that the
    // unit counts each frame complete.
    const ImageSizeRange lines = codedImageSizeRange(static_cast<uint16_t>(height_), packetBytes_);
    const int64_t smallest = boundedProperty(*this, "MinImageSize", 0, INT32_MAX);
    const int64_t largest = boundedProperty(*this, "MaxImageSize", 0, INT32_MAX);
    sizes_.smallest = smallest > 0 ? static_cast<size_t>(smallest) : lines.smallest;
    sizes_.largest = largest > 0 ? static_cast<size_t>(largest) : lines.largest;
    if (sizes_.largest < sizes_.smallest)
        Error(KOVAStreamedString() << "[Birth] MaxImageSize " << sizes_.largest << " is below MinImageSize "
                                   << sizes_.smallest);
    int64_t pattern = 0;
    Get(Property("Pattern"), pattern);
    pattern_ = static_cast<BytePattern>(pattern);
    Get(Property("ReportChecksums"), report_);
    Get(Property("StartDelayUs"), startDelayUs_);
    Get(Property("PeriodUs"), periodUs_);
    Get(Property("Count"), count_);
    // The unit client declares lines of bufferSize / height bytes: make the
    // buffer hold `Height` packets at least, and every image.
    const size_t buffer = std::max(sizes_.largest, size_t{ packetBytes_ } * static_cast<size_t>(height_));
    if (buffer == 0 || buffer > static_cast<size_t>(INT32_MAX))
        Error(KOVAStreamedString() << "[Birth] An image buffer of " << buffer << " bytes cannot be allocated");
    Output("Images")->AllocOutputBuffer(static_cast<int32_t>(buffer));
    frames_.Reset();
    sent_ = 0;
}

void KOVAHostCodedImageSource::Core()
{
    if (count_ > 0 && sent_ >= count_)
        Finish();
    if (sent_ == 0 && startDelayUs_ > 0)
        Rest(startDelayUs_);
    {
        KOVA::OutputGuard<KOVAImage> sample(this, Output("Images"));
        if (!sample)
            return;
        KOVAIOElt* element = sample.Element();
        KOVAImage* image = element->KOVAImage();
        const KOVATimestamp now = KOVA::CurrentTime();
        const size_t size = codedImageSize(sizes_, static_cast<uint32_t>(sent_));
        const std::span<uint8_t> bytes(image->imageData, size);
        fillCodedImage(bytes, pattern_, static_cast<uint32_t>(sent_));
        image->width = width_;
        image->height = height_;
        image->imageSize = static_cast<int32_t>(size);
        std::memcpy(image->imageCoding, IMAGE_CODING, sizeof image->imageCoding);
        element->Timestamp() = now;
        frames_.Sent(*this, report_, static_cast<uint64_t>(sent_), codedImagePacketCount(size, packetBytes_),
                     codedImagePacketCount(size, packetBytes_) * packetBytes_,
                     codedImageSentChecksum(bytes, packetBytes_));
    }
    ++sent_;
    if (periodUs_ > 0)
        Rest(periodUs_);
}

void KOVAHostCodedImageSource::Death()
{
    frames_.ReportAtDeath(*this);
}
