#include "KOVAQirImagePlayers.h"

#include "KOVAQirPlayerTables.h"

#include <cstring>
#include <limits>

namespace {

using qir_players::framesOutput;
using qir_players::kLoggingStartTimeOutput;
using qir_players::kOutputsEnd;
using qir_players::kReplayStartTimeOutput;
using qir_players::kReplayStopTimeOutput;

const KOVAOutputDefinition kIplOutputs[] = {
    framesOutput({ .code = KOVA::IplImage, .name = "", .unit = "" }),
    kLoggingStartTimeOutput,
    kReplayStartTimeOutput,
    kReplayStopTimeOutput,
    kOutputsEnd,
};

const KOVAOutputDefinition kCodedOutputs[] = {
    framesOutput({ .code = KOVA::KOVAImage, .name = "", .unit = "" }),
    kLoggingStartTimeOutput,
    kReplayStartTimeOutput,
    kReplayStopTimeOutput,
    kOutputsEnd,
};

/// Names the coding of the framework images.
constexpr char kJpegCoding[4] = { 'J', 'P', 'E', 'G' };

} // namespace

const KOVAComponentDefinition KOVAQirImageSequencePlayer::s_componentDefinition =
    qir_players::playerDefinition("QirImageSequencePlayer", &KOVAQirImageSequencePlayer::Instantiate, kIplOutputs);
const KOVAComponentDefinition KOVAQirJpegSequencePlayer::s_componentDefinition =
    qir_players::playerDefinition("QirJpegSequencePlayer", &KOVAQirJpegSequencePlayer::Instantiate, kCodedOutputs);

KOVA_REGISTER_COMPONENT(KOVAQirImageSequencePlayer, KOVAQirImageSequencePlayer::s_componentDefinition);
KOVA_MODULE_MARKER(imageSequenceModuleDescr, "QirImageSequencePlayer", "1.0.0");
KOVA_REGISTER_COMPONENT(KOVAQirJpegSequencePlayer, KOVAQirJpegSequencePlayer::s_componentDefinition);
KOVA_MODULE_MARKER(jpegSequenceModuleDescr, "QirJpegSequencePlayer", "1.0.0");

KOVAComponent* KOVAQirImageSequencePlayer::Instantiate(const char* name, const KOVAComponentDefinition* definition)
{
    return new KOVAQirImageSequencePlayer(name, definition);
}

KOVAComponent* KOVAQirJpegSequencePlayer::Instantiate(const char* name, const KOVAComponentDefinition* definition)
{
    return new KOVAQirJpegSequencePlayer(name, definition);
}

void KOVAQirImageSequencePlayer::AllocateFrames()
{
    const auto& r = recording();
    const IplImage model = KOVA::IplImageModel(static_cast<int32_t>(r.width()), static_cast<int32_t>(r.height()),
                                               r.channels() == 1 ? "GRAY" : "RGB", KOVA::IplDataOrderPixel, 8, 4);
    Output("Frames")->AllocOutputBufferIplImage(model, false);
}

std::optional<size_t> KOVAQirImageSequencePlayer::WriteFrame(size_t index, KOVATimestamp time)
{
    KOVA::OutputGuard<IplImage> sample(this, Output("Frames"));
    if (!sample)
        return std::nullopt;
    IplImage* image = sample.Get();
    try {
        recording().decodeImage(index, reinterpret_cast<uint8_t*>(image->imageData),
                                static_cast<size_t>(image->widthStep));
    } catch (const qir::replay::RecordingError& error) {
        Error((KOVAString("[Core] ") + error.what()).c_str());
    }
    sample.Element()->Timestamp() = time;
    return size_t{ recording().lineBytes() } * recording().height();
}

void KOVAQirJpegSequencePlayer::AllocateFrames()
{
    const uint64_t bytes = uint64_t{ recording().codedPacketBytes() } * recording().height();
    if (bytes > static_cast<uint64_t>(std::numeric_limits<int32_t>::max()))
        Error("[Birth] An image of the recording is too large for one sample");
    Output("Frames")->AllocOutputBuffer(static_cast<int32_t>(bytes));
}

std::optional<size_t> KOVAQirJpegSequencePlayer::WriteFrame(size_t index, KOVATimestamp time)
{
    KOVA::OutputGuard<KOVAImage> sample(this, Output("Frames"));
    if (!sample)
        return std::nullopt;
    KOVAIOElt* element = sample.Element();
    KOVAImage* image = element->KOVAImage();
    const std::span<const uint8_t> bytes = recording().frameBytes(index);
    // The JPEG's bytes unchanged, then zeros to whole `height` packets: the
    // unit counts a frame complete when its last line arrives.
    const auto size = static_cast<int32_t>(uint64_t{ recording().codedPacketBytes() } * recording().height());
    CopyFrame(index, reinterpret_cast<uint8_t*>(image->imageData));
    std::memset(image->imageData + bytes.size(), 0, static_cast<size_t>(size) - bytes.size());
    image->width = static_cast<int32_t>(recording().width());
    image->height = static_cast<int32_t>(recording().height());
    image->imageSize = size;
    image->bufferSize = size;
    std::memcpy(image->imageCoding, kJpegCoding, sizeof image->imageCoding);
    element->Timestamp() = time;
    return bytes.size();
}
