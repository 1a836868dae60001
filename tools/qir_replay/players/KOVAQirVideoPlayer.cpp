#include "KOVAQirVideoPlayer.h"

#include "KOVAQirPlayerTables.h"

#include <chrono>
#include <cstring>

namespace {

using qir_players::property;

constexpr KOVAPropertyDefault kPixelFormat = KOVAPropertyDefault::Text("bgr24");
constexpr KOVAPropertyDefault kStream = KOVAPropertyDefault::Integer(-1);

/// The players' properties, the pixel layout and the stream.
const KOVAPropertyDefinition kVideoProperties[] = {
    property("File", &qir_players::kFile, nullptr),
    property("Fps", &qir_players::kFps, "1/s"),
    property("Rate", &qir_players::kRate, nullptr),
    property("Frames", &qir_players::kFrames, nullptr),
    property("Loop", &qir_players::kLoops, nullptr),
    property("StartDelayUs", &qir_players::kStartDelay, "us", KOVA::PropertySubTypeTime),
    property("KeepGoing", &qir_players::kKeepGoing, nullptr),
    property("ReplayStartUs", &qir_players::kReplayStart, "us", KOVA::PropertySubTypeTime),
    property("LeadUs", &qir_players::kLead, "us", KOVA::PropertySubTypeTime),
    property("UnitClockOffsetUs", &qir_players::kUnitClockOffset, "us", KOVA::PropertySubTypeTime),
    property("FirstFrame", &qir_players::kFirstFrame, nullptr),
    property("EndFrame", &qir_players::kEndFrame, nullptr),
    property("PixelFormat", &kPixelFormat, nullptr),
    property("Stream", &kStream, nullptr),
    property("Checked", &qir_players::kChecked, nullptr),
    property(nullptr, nullptr, nullptr),
};

const KOVAOutputDefinition kOutputs[] = {
    qir_players::framesOutput({ .code = KOVA::IplImage, .name = "", .unit = "" }),
    qir_players::kLoggingStartTimeOutput,
    qir_players::kReplayStartTimeOutput,
    qir_players::kReplayStopTimeOutput,
    qir_players::kOutputsEnd,
};

/// How long one wait for a decoded frame lasts before the player rests
/// (where the engine can stop it) and waits again.
constexpr std::chrono::milliseconds kTakeWait{ 5 };
constexpr KOVATimestamp kRestUs = 1000;

} // namespace

const KOVAComponentDefinition KOVAQirVideoPlayer::s_componentDefinition =
    KOVA::ThreadedComponent({ .name = "QirVideoPlayer",
                              .version = "1.0.0",
                              .instantiate = &KOVAQirVideoPlayer::Instantiate,
                              .inputs = qir_players::kPlayerInputs,
                              .outputs = kOutputs,
                              .properties = kVideoProperties,
                              .actions = qir_players::kNoActions });

KOVA_REGISTER_COMPONENT(KOVAQirVideoPlayer, KOVAQirVideoPlayer::s_componentDefinition);
KOVA_MODULE_MARKER(videoModuleDescr, "QirVideoPlayer", "1.0.0");

KOVAComponent* KOVAQirVideoPlayer::Instantiate(const char* name, const KOVAComponentDefinition* definition)
{
    return new KOVAQirVideoPlayer(name, definition);
}

qir::replay::Recording KOVAQirVideoPlayer::OpenRecording(const std::string& file,
                                                         const qir::replay::OpenOptions& options)
{
    KOVAString pixels;
    int64_t stream = -1;
    Get(Property("PixelFormat"), pixels);
    Get(Property("Stream"), stream);
    const auto layout = qir::video::parseVideoPixelFormat(pixels.Std());
    if (!layout)
        Error((KOVAString("[Birth] PixelFormat \"") + pixels +
               "\" is none of rgb24, bgr24, gray8, gray16le, yuyv422, uyvy422")
                  .c_str());
    if (stream < -1 || stream > 0xFFFF)
        Error("[Birth] Stream must be -1 (the best video stream) or a stream index");
    const qir::video::VideoChoice choice{ .stream = static_cast<int>(stream), .pixels = *layout };
    qir::replay::OpenOptions open = options;
    open.format = qir::replay::RecordingFormat::Video;
    open.video = choice;
    return qir::replay::Recording::open(file, open);
}

void KOVAQirVideoPlayer::AllocateFrames()
{
    pending_.reset();
    queue_.reset();
    framesNotReady_ = 0;
    tookFrame_ = false;
    const auto& r = recording();
    const qir::video::PixelLayout& layout = qir::video::pixelLayout(r.videoChoice().pixels);
    const std::string sequence(layout.channelSeq);
    IplImage model = KOVA::IplImageModel(static_cast<int32_t>(r.width()), static_cast<int32_t>(r.height()),
                                         sequence.c_str(), KOVA::IplDataOrderPixel, layout.depth, 4);
    if (model.nChannels != layout.channels) {
        // Two-channel layouts (4:2:2) the model does not know by name.
        model.nChannels = layout.channels;
        const int64_t step = (int64_t{ r.lineBytes() } + 3) / 4 * 4;
        model.widthStep = static_cast<int32_t>(step);
        model.imageSize = static_cast<int32_t>(step * r.height());
    }
    Output("Frames")->AllocOutputBufferIplImage(model, false);
    startDecoding();
}

void KOVAQirVideoPlayer::startDecoding()
{
    const auto& r = recording();
    // Before damage (KeepGoing) the decoder must stop where the index
    // stopped: one thread, which does not read ahead into it.
    qir::video::VideoChoice choice = r.videoChoice();
    choice.decoderThreads = r.damage().empty() ? 0 : 1;
    queue_ = std::make_unique<qir::video::VideoFrameQueue>(r.path(), choice, FirstSelected(),
                                                           FirstSelected() + FramesPerPass());
}

std::optional<size_t> KOVAQirVideoPlayer::WriteFrame(size_t index, KOVATimestamp time)
{
    const auto& r = recording();
    if (!queue_)
        startDecoding();
    for (;;) {
        for (std::chrono::microseconds wait{ 0 }; !pending_; wait = kTakeWait) {
            try {
                pending_ = queue_->take(wait);
            } catch (const qir::video::VideoError& error) {
                Error((KOVAString("[Core] ") + error.what()).c_str());
            }
            // The first frame of a run waits for the decoder to start (a
            // lead before it plays): only a later empty queue means decoding
            // fell behind.
            if (!pending_ && wait.count() == 0 && tookFrame_) {
                ++framesNotReady_;
                NoteFrameNotReady();
            } else if (!pending_)
                Rest(kRestUs);
        }
        // A resumed run begins within the recording: the decoder, which
        // starts at the first frame, is followed up to it.
        if (pending_->index == index || !FirstOfResumedRun())
            break;
        queue_->recycle(std::move(pending_));
    }
    if (pending_->index != index)
        Error((KOVAStreamedString() << "[Core] Decoded frame " << pending_->index << " where frame " << index
                                    << " was due")
                  .c_str());
    KOVA::OutputGuard<IplImage> sample(this, Output("Frames"));
    if (!sample)
        return std::nullopt;
    IplImage* image = sample.Get();
    const size_t line = r.lineBytes();
    auto* to = reinterpret_cast<uint8_t*>(image->imageData);
    for (uint32_t row = 0; row < r.height(); ++row)
        std::memcpy(to + size_t{ row } * static_cast<size_t>(image->widthStep),
                    pending_->pixels.data() + size_t{ row } * pending_->stride, line);
    sample.Element()->Timestamp() = time;
    queue_->recycle(std::move(pending_));
    tookFrame_ = true;
    return line * r.height();
}

void KOVAQirVideoPlayer::Death()
{
    if (queue_)
        ReportInfo((KOVAStreamedString() << "[Death] Decoded " << queue_->framesDecoded() << " frames ahead; "
                                         << framesNotReady_ << " frames were not decoded yet when due")
                       .c_str());
    pending_.reset();
    queue_.reset();
    KOVAQirRecordingPlayer::Death();
}
