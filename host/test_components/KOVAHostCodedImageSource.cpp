#include "KOVAHostCodedImageSource.h"

#include "abi/KOVATableEnd.h"
#include "abi/KOVAThreadedComponent.h"
#include "KOVAHostSourceProperties.h"

#include <cstring>

namespace {

using namespace vxqir::frames;
using host_sources::boundedProperty;

constexpr KOVAPropertyDefault kWidth = KOVAPropertyDefault::Integer(1920);
constexpr KOVAPropertyDefault kHeight = KOVAPropertyDefault::Integer(3);
constexpr KOVAPropertyDefault kAuto = KOVAPropertyDefault::Integer(0);
constexpr KOVAPropertyDefault kMaxPayload = KOVAPropertyDefault::Integer(8948);
constexpr KOVAPropertyDefault kPattern = KOVAPropertyDefault::Enum("Ramp|Counter|Noise", 2);
constexpr KOVAPropertyDefault kImageSection = KOVAPropertyDefault::Text("Image");

const KOVAPropertyDefinition kProperties[] = {
    host_sources::sectionBegin("image_begin", &kImageSection),
    host_sources::row("Width", &kWidth, "px"),
    host_sources::row("Height", &kHeight, nullptr),
    host_sources::row("MinImageSize", &kAuto, "bytes"),
    host_sources::row("MaxImageSize", &kAuto, "bytes"),
    host_sources::row("Pattern", &kPattern, nullptr),
    host_sources::sectionEnd("image_end"),
    host_sources::row("MaxPayLoadSize", &kMaxPayload, "bytes"),
    host_sources::ReportChecksums,
    host_sources::StartDelayUs,
    host_sources::PeriodUs,
    host_sources::Count,
    KOVA::EndOfProperties,
};

const KOVAOutputDefinition kOutputs[] = {
    { .name = "Images",
      .reserved = 0,
      .type = { .code = KOVA::KOVAImage, .name = "", .unit = "" },
      .size = 0,
      .fifoSize = 8,
      .subsampling = 1,
      .shareable = 1 },
    KOVA::EndOfOutputs,
};

const KOVAInputDefinition kInputs[] = { KOVA::EndOfInputs };
const KOVAActionDefinition kActions[] = { KOVA::EndOfActions };

constexpr char IMAGE_CODING[4] = { 'Q', 'T', 'S', 'T' };

} // namespace

const KOVAComponentDefinition KOVAHostCodedImageSource::s_componentDefinition =
    KOVA::ThreadedComponent({ .name = "HostCodedImageSource",
                              .version = "1.0.0",
                              .instantiate = &KOVAHostCodedImageSource::Instantiate,
                              .inputs = kInputs,
                              .outputs = kOutputs,
                              .properties = kProperties,
                              .actions = kActions });

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
    frames_.Birth(*this);
    pacing_.Birth(*this);
    // The unit client declares lines of bufferSize / height bytes: make the
    // buffer hold `Height` packets at least, and every image.
    const size_t buffer = std::max(sizes_.largest, size_t{ packetBytes_ } * static_cast<size_t>(height_));
    if (buffer == 0 || buffer > static_cast<size_t>(INT32_MAX))
        Error(KOVAStreamedString() << "[Birth] An image buffer of " << buffer << " bytes cannot be allocated");
    Output("Images")->AllocOutputBuffer(static_cast<int32_t>(buffer));
}

void KOVAHostCodedImageSource::Core()
{
    pacing_.BeforeFrame(*this);
    {
        KOVA::OutputGuard<KOVAImage> sample(this, Output("Images"));
        if (!sample)
            return;
        KOVAIOElt* element = sample.Element();
        KOVAImage* image = element->KOVAImage();
        const KOVATimestamp now = KOVA::CurrentTime();
        const auto index = static_cast<uint32_t>(pacing_.Index());
        const size_t size = codedImageSize(sizes_, index);
        const std::span<uint8_t> bytes(image->imageData, size);
        fillCodedImage(bytes, pattern_, index);
        image->width = width_;
        image->height = height_;
        image->imageSize = static_cast<int32_t>(size);
        std::memcpy(image->imageCoding, IMAGE_CODING, sizeof image->imageCoding);
        element->Timestamp() = now;
        const uint64_t packets = codedImagePacketCount(size, packetBytes_);
        frames_.Sent(*this, index, packets, packets * packetBytes_, codedImageSentChecksum(bytes, packetBytes_));
    }
    pacing_.AfterFrame(*this);
}

void KOVAHostCodedImageSource::Death()
{
    frames_.ReportAtDeath(*this);
}
