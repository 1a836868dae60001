#include "KOVAHostCsi2ChunkSource.h"

#include "abi/KOVATableEnd.h"
#include "abi/KOVAThreadedComponent.h"
#include "KOVAHostSourceProperties.h"

#include <algorithm>
#include <cstring>

namespace {

using namespace vxqir::frames;
using host_sources::boundedProperty;

constexpr KOVAPropertyDefault kDataChunks = KOVAPropertyDefault::Integer(1080);
constexpr KOVAPropertyDefault kPayloadBytes = KOVAPropertyDefault::Integer(2880);
constexpr KOVAPropertyDefault kChunkType = KOVAPropertyDefault::Integer(0);
constexpr KOVAPropertyDefault kSubType = KOVAPropertyDefault::Integer(0x2C);
constexpr KOVAPropertyDefault kEmbeddedBytes = KOVAPropertyDefault::Integer(64);
constexpr KOVAPropertyDefault kOff = KOVAPropertyDefault::Bool(false);
constexpr KOVAPropertyDefault kOn = KOVAPropertyDefault::Bool(true);
constexpr KOVAPropertyDefault kNone = KOVAPropertyDefault::Integer(-1);
constexpr KOVAPropertyDefault kPattern = KOVAPropertyDefault::Enum("Ramp|Counter|Noise", 0);
constexpr KOVAPropertyDefault kZero = KOVAPropertyDefault::Integer(0);
constexpr KOVAPropertyDefault kFrameSection = KOVAPropertyDefault::Text("Frame");

const KOVAPropertyDefinition kProperties[] = {
    host_sources::sectionBegin("frame_begin", &kFrameSection),
    host_sources::row("DataChunks", &kDataChunks, nullptr),
    host_sources::row("PayloadBytes", &kPayloadBytes, "bytes"),
    host_sources::row("ChunkType", &kChunkType, nullptr),
    host_sources::row("SubType", &kSubType, nullptr, KOVA::PropertySubTypeHexa),
    host_sources::row("FrameStart", &kOn, nullptr),
    host_sources::row("FrameEnd", &kOn, nullptr),
    host_sources::row("MetaData", &kOff, nullptr),
    host_sources::row("EmbeddedChunks", &kZero, nullptr),
    host_sources::row("EmbeddedBytes", &kEmbeddedBytes, "bytes"),
    host_sources::row("EmbeddedFromFrame", &kZero, nullptr),
    host_sources::row("ShortFrame", &kNone, nullptr),
    host_sources::row("Pattern", &kPattern, nullptr),
    host_sources::sectionEnd("frame_end"),
    host_sources::ReportChecksums,
    host_sources::StartDelayUs,
    host_sources::PeriodUs,
    host_sources::Count,
    KOVA::EndOfProperties,
};

const KOVAOutputDefinition kOutputs[] = {
    { .name = "Frames",
      .reserved = 0,
      .type = { .code = KOVA::DynamicStructure, .name = KOVA_MIPI_CSI2_FRAME_TYPE_NAME, .unit = "" },
      .size = 0,
      .fifoSize = 8,
      .subsampling = 1,
      .shareable = 1 },
    KOVA::EndOfOutputs,
};

const KOVAInputDefinition kInputs[] = { KOVA::EndOfInputs };
const KOVAActionDefinition kActions[] = { KOVA::EndOfActions };

} // namespace

const KOVAComponentDefinition KOVAHostCsi2ChunkSource::s_componentDefinition =
    KOVA::ThreadedComponent({ .name = "HostCsi2ChunkSource",
                              .version = "1.0.0",
                              .instantiate = &KOVAHostCsi2ChunkSource::Instantiate,
                              .inputs = kInputs,
                              .outputs = kOutputs,
                              .properties = kProperties,
                              .actions = kActions });

KOVA_REGISTER_COMPONENT(KOVAHostCsi2ChunkSource, KOVAHostCsi2ChunkSource::s_componentDefinition);
KOVA_MODULE_MARKER(moduleDescr, "HostCsi2ChunkSource", "1.0.0");

KOVAComponent* KOVAHostCsi2ChunkSource::Instantiate(const char* name, const KOVAComponentDefinition* definition)
{
    return new KOVAHostCsi2ChunkSource(name, definition);
}

void KOVAHostCsi2ChunkSource::Birth()
{
    spec_ = {};
    spec_.dataChunks = static_cast<uint16_t>(boundedProperty(*this, "DataChunks", 0, 65535));
    spec_.payloadBytes = static_cast<uint16_t>(boundedProperty(*this, "PayloadBytes", 0, 65519));
    spec_.type = static_cast<MIPICSI2::Type>(boundedProperty(*this, "ChunkType", 0, 255));
    spec_.subType = static_cast<MIPICSI2::SubType>(boundedProperty(*this, "SubType", 0, 255));
    Get(Property("FrameStart"), spec_.frameStart);
    Get(Property("FrameEnd"), spec_.frameEnd);
    Get(Property("MetaData"), spec_.metaData);
    spec_.embeddedChunks = static_cast<uint16_t>(boundedProperty(*this, "EmbeddedChunks", 0, 65535));
    spec_.embeddedBytes = static_cast<uint16_t>(boundedProperty(*this, "EmbeddedBytes", 0, 65519));
    embeddedFrom_ = boundedProperty(*this, "EmbeddedFromFrame", 0, INT32_MAX);
    shortFrame_ = boundedProperty(*this, "ShortFrame", -1, INT32_MAX);
    int64_t pattern = 0;
    Get(Property("Pattern"), pattern);
    spec_.pattern = static_cast<BytePattern>(pattern);
    if (const std::string why = checkChunkFrameSpec(spec_); !why.empty())
        Error(KOVAStreamedString() << "[Birth] " << why);
    frames_.Birth(*this);
    pacing_.Birth(*this);

    // Every frame fits the largest one: embedded data and all data chunks.
    const size_t largest = sizeof(KOVAMipiCsi2Frame) + chunkFrameSize(spec_);
    if (largest > static_cast<size_t>(INT32_MAX))
        Error(KOVAStreamedString() << "[Birth] A frame of " << largest << " bytes is too large");
    Output("Frames")->AllocOutputBuffer(static_cast<int32_t>(largest));
    selection_ = {};
}

ChunkFrameSpec KOVAHostCsi2ChunkSource::SpecOf(int64_t index) const
{
    ChunkFrameSpec spec = spec_;
    if (index < embeddedFrom_)
        spec.embeddedChunks = 0;
    if (index == shortFrame_ && spec.dataChunks > 0)
        --spec.dataChunks;
    return spec;
}

void KOVAHostCsi2ChunkSource::Core()
{
    pacing_.BeforeFrame(*this);
    {
        KOVA::OutputGuard<KOVAMipiCsi2Frame> sample(this, Output("Frames"));
        if (!sample)
            return;
        KOVAIOElt* element = sample.Element();
        const KOVATimestamp now = KOVA::CurrentTime();
        const auto index = static_cast<uint32_t>(pacing_.Index());
        auto* bytes = static_cast<uint8_t*>(element->Data());
        // The container lies right behind the record in the same element, so
        // it lives exactly as long as the sample.
        const std::span<uint8_t> container(bytes + sizeof(KOVAMipiCsi2Frame),
                                           static_cast<size_t>(element->BufferSize()) - sizeof(KOVAMipiCsi2Frame));
        const ChunkFrameSpec spec = SpecOf(index);
        const size_t written = writeChunkFrame(container, spec, index, static_cast<uint64_t>(now) * 1000u);
        KOVAMipiCsi2Frame record = chunkFrameRecord(spec, index, now);
        record.dataLength = static_cast<uint32_t>(written);
        record.data = container.data();
        std::memcpy(bytes, &record, sizeof record);
        element->VectorSize() = static_cast<int32_t>(sizeof record + written);
        element->Timestamp() = now;

        const std::span<const uint8_t> sentContainer = container.first(written);
        if (index == 0)
            selection_ = ChunkSelection::fromFirstFrame(sentContainer);
        frames_.Sent(*this, index, chunkSentPackets(sentContainer, selection_));
    }
    pacing_.AfterFrame(*this);
}

void KOVAHostCsi2ChunkSource::Death()
{
    frames_.ReportAtDeath(*this);
}
