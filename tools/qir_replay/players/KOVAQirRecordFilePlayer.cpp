#include "KOVAQirRecordFilePlayer.h"

#include "KOVAQirPlayerTables.h"
#include "unit_client/csi2/KOVAMipiCsi2Frame.h"

#include <cstring>
#include <limits>

namespace {

using qir_players::framesOutput;
using qir_players::kLoggingStartTimeOutput;
using qir_players::kOutputsEnd;
using qir_players::kReplayStartTimeOutput;
using qir_players::kReplayStopTimeOutput;

const KOVAOutputDefinition kOutputs[] = {
    framesOutput({ .code = KOVA::DynamicStructure, .name = KOVA_MIPI_CSI2_FRAME_TYPE_NAME, .unit = "" }),
    kLoggingStartTimeOutput,
    kReplayStartTimeOutput,
    kReplayStopTimeOutput,
    kOutputsEnd,
};

} // namespace

const KOVAComponentDefinition KOVAQirRecordFilePlayer::s_componentDefinition =
    qir_players::playerDefinition("QirRecordFilePlayer", &KOVAQirRecordFilePlayer::Instantiate, kOutputs);

KOVA_REGISTER_COMPONENT(KOVAQirRecordFilePlayer, KOVAQirRecordFilePlayer::s_componentDefinition);
KOVA_MODULE_MARKER(recordFileModuleDescr, "QirRecordFilePlayer", "1.0.0");

KOVAComponent* KOVAQirRecordFilePlayer::Instantiate(const char* name, const KOVAComponentDefinition* definition)
{
    return new KOVAQirRecordFilePlayer(name, definition);
}

void KOVAQirRecordFilePlayer::AllocateFrames()
{
    if (recording().skippedRecords() > 0)
        ReportInfo((KOVAStreamedString() << "[Birth] Skipped " << recording().skippedRecords()
                                         << " records that are not Video records")
                       .c_str());
    const size_t largest = sizeof(KOVAMipiCsi2Frame) + recording().largestFrame();
    if (largest > static_cast<size_t>(std::numeric_limits<int32_t>::max()))
        Error("[Birth] A frame of the recording is too large for one sample");
    Output("Frames")->AllocOutputBuffer(static_cast<int32_t>(largest));
}

std::optional<size_t> KOVAQirRecordFilePlayer::WriteFrame(size_t index, KOVATimestamp time)
{
    KOVA::OutputGuard<KOVAMipiCsi2Frame> sample(this, Output("Frames"));
    if (!sample)
        return std::nullopt;
    KOVAIOElt* element = sample.Element();
    auto* bytes = static_cast<uint8_t*>(element->Data());
    // The chunk container lies right behind the sample record in the same
    // element, so it lives exactly as long as the sample: the one copy, from
    // the mapped file.
    const std::span<const uint8_t> container = recording().frameBytes(index);
    uint8_t* data = bytes + sizeof(KOVAMipiCsi2Frame);
    CopyFrame(index, data);
    const auto& video = recording().videoInfo()[index].header;
    KOVAMipiCsi2Frame record{};
    record.ts = time;
    record.pixelFormat = video.pixel_format;
    record.rawColorScheme = video.raw_color_scheme;
    std::memcpy(&record.imagerType, video.imager_type.data(), sizeof record.imagerType);
    record.compression = video.compression;
    record.width = video.width;
    record.height = video.height;
    record.frameCounter = video.frame_counter;
    record.dataLength = static_cast<uint32_t>(container.size());
    record.data = data;
    std::memcpy(bytes, &record, sizeof record);
    element->VectorSize() = static_cast<int32_t>(sizeof record + container.size());
    element->Timestamp() = time;
    return container.size();
}
