#include "KOVAHostCsi2GrabberSource.h"

#include "abi/KOVATableEnd.h"
#include "abi/KOVAThreadedComponent.h"
#include "KOVAHostSourceProperties.h"

namespace {

using namespace vxqir::frames;
using host_sources::boundedProperty;

constexpr KOVAPropertyDefault kWordCount = KOVAPropertyDefault::Integer(3840);
constexpr KOVAPropertyDefault kLongPackets = KOVAPropertyDefault::Integer(1080);
constexpr KOVAPropertyDefault kBpp = KOVAPropertyDefault::Integer(16);
constexpr KOVAPropertyDefault kDataType = KOVAPropertyDefault::Integer(0x2E);
constexpr KOVAPropertyDefault kOff = KOVAPropertyDefault::Bool(false);
constexpr KOVAPropertyDefault kOn = KOVAPropertyDefault::Bool(true);
constexpr KOVAPropertyDefault kPattern = KOVAPropertyDefault::Enum("Ramp|Counter|Noise", 0);
constexpr KOVAPropertyDefault kFrameSection = KOVAPropertyDefault::Text("Frame");
constexpr KOVAPropertyDefault kUnitSection = KOVAPropertyDefault::Text("As the unit client sends");

const KOVAPropertyDefinition kProperties[] = {
    host_sources::sectionBegin("frame_begin", &kFrameSection),
    host_sources::row("WordCount", &kWordCount, "bytes"),
    host_sources::row("LongPackets", &kLongPackets, nullptr),
    host_sources::row("Bpp", &kBpp, "bits"),
    host_sources::row("DataType", &kDataType, nullptr, KOVA::PropertySubTypeHexa),
    host_sources::row("FrameStart", &kOff, nullptr),
    host_sources::row("FrameEnd", &kOff, nullptr),
    host_sources::row("Pattern", &kPattern, nullptr),
    host_sources::sectionEnd("frame_end"),
    host_sources::sectionBegin("unit_begin", &kUnitSection),
    host_sources::row("SkipCsi2Preamble", &kOn, nullptr),
    host_sources::row("SkipCsi2ShortPackages", &kOff, nullptr),
    host_sources::sectionEnd("unit_end"),
    host_sources::ReportChecksums,
    host_sources::StartDelayUs,
    host_sources::PeriodUs,
    host_sources::Count,
    KOVA::EndOfProperties,
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

} // namespace

const KOVAComponentDefinition KOVAHostCsi2GrabberSource::s_componentDefinition =
    KOVA::ThreadedComponent({ .name = "HostCsi2GrabberSource",
                              .version = "1.0.0",
                              .instantiate = &KOVAHostCsi2GrabberSource::Instantiate,
                              .inputs = kInputs,
                              .outputs = kOutputs,
                              .properties = kProperties,
                              .actions = kActions });

KOVA_REGISTER_COMPONENT(KOVAHostCsi2GrabberSource, KOVAHostCsi2GrabberSource::s_componentDefinition);
KOVA_MODULE_MARKER(moduleDescr, "HostCsi2GrabberSource", "1.0.0");

KOVAComponent* KOVAHostCsi2GrabberSource::Instantiate(const char* name, const KOVAComponentDefinition* definition)
{
    return new KOVAHostCsi2GrabberSource(name, definition);
}

void KOVAHostCsi2GrabberSource::Birth()
{
    spec_ = {};
    spec_.wordCount = static_cast<uint16_t>(boundedProperty(*this, "WordCount", 0, 65535));
    spec_.longPackets = static_cast<uint16_t>(boundedProperty(*this, "LongPackets", 1, 65535));
    spec_.bpp = static_cast<uint8_t>(boundedProperty(*this, "Bpp", 1, 255));
    spec_.dataType = static_cast<uint8_t>(boundedProperty(*this, "DataType", 0x10, 0x3F));
    Get(Property("FrameStart"), spec_.frameStart);
    Get(Property("FrameEnd"), spec_.frameEnd);
    int64_t pattern = 0;
    Get(Property("Pattern"), pattern);
    spec_.pattern = static_cast<BytePattern>(pattern);
    if (const std::string why = checkGrabberFrameSpec(spec_); !why.empty())
        Error(KOVAStreamedString() << "[Birth] " << why);

    Get(Property("SkipCsi2Preamble"), send_.skipPreamble);
    Get(Property("SkipCsi2ShortPackages"), send_.skipShortPackets);
    frames_.Birth(*this);
    pacing_.Birth(*this);
    checksums_ = send_.skipShortPackets || (!spec_.frameStart && !spec_.frameEnd);
    if (!checksums_) {
        ReportWarning("[Birth] Frames with short packets are sent as recorded only with SkipCsi2ShortPackages on; "
                      "no checksums are stated");
    }

    const size_t frameBytes = grabberFrameSize(spec_);
    if (frameBytes > static_cast<size_t>(INT32_MAX))
        Error(KOVAStreamedString() << "[Birth] A frame of " << frameBytes << " bytes is too large");
    Output("Frames")->AllocOutputBuffer(static_cast<int32_t>(frameBytes));
    records_.clear();
    records_.reserve(grabberRecordCount(spec_));
}

void KOVAHostCsi2GrabberSource::Core()
{
    pacing_.BeforeFrame(*this);
    {
        KOVA::OutputGuard<uint8_t> sample(this, Output("Frames"));
        if (!sample)
            return;
        KOVAIOElt* element = sample.Element();
        const KOVATimestamp now = KOVA::CurrentTime();
        const auto index = static_cast<uint32_t>(pacing_.Index());
        const std::span<uint8_t> out(sample.Get(), static_cast<size_t>(element->BufferSize()));
        const size_t written = writeGrabberFrame(out, spec_, index, static_cast<uint64_t>(now) * 1000u, &records_);
        element->VectorSize() = static_cast<int32_t>(written);
        element->Timestamp() = now;
        if (checksums_)
            frames_.Sent(*this, index, grabberSentPackets(out.first(written), records_, send_));
        else
            frames_.SentWithoutChecksum();
    }
    pacing_.AfterFrame(*this);
}

void KOVAHostCsi2GrabberSource::Death()
{
    frames_.ReportAtDeath(*this);
}
