#include "KOVAQirRecordingPlayer.h"

#include <cmath>
#include <cstring>
#include <limits>

namespace {

constexpr KOVAPropertyDefault kFile = KOVAPropertyDefault::Text("");
constexpr KOVAPropertyDefault kGrabberFps = KOVAPropertyDefault::Float(0.0);
constexpr KOVAPropertyDefault kRawFps = KOVAPropertyDefault::Float(30.0);
constexpr KOVAPropertyDefault kRate = KOVAPropertyDefault::Float(1.0);
constexpr KOVAPropertyDefault kFrames = KOVAPropertyDefault::Integer(0);
constexpr KOVAPropertyDefault kLoops = KOVAPropertyDefault::Integer(1);
constexpr KOVAPropertyDefault kStartDelay = KOVAPropertyDefault::Integer(1000000);
constexpr KOVAPropertyDefault kKeepGoing = KOVAPropertyDefault::Bool(false);
constexpr KOVAPropertyDefault kRawPixels = KOVAPropertyDefault::Enum("YUV422|Mono", 0);

constexpr KOVAPropertyDefinition property(const char* name, const KOVAPropertyDefault* value, const char* unit,
                                          int32_t subtype = KOVA::PropertySubTypeNone)
{
    return { .name = name,
             .value = value,
             .unit = unit,
             .needs2BeInitialized = false,
             .canBeModifiedAfterStart = false,
             .readOnly = false,
             .locked = true,
             .subtype = subtype };
}

const KOVAPropertyDefinition kGrabberProperties[] = {
    property("File", &kFile, nullptr),
    property("Fps", &kGrabberFps, "1/s"),
    property("Rate", &kRate, nullptr),
    property("Frames", &kFrames, nullptr),
    property("Loop", &kLoops, nullptr),
    property("StartDelayUs", &kStartDelay, "us", KOVA::PropertySubTypeTime),
    property("KeepGoing", &kKeepGoing, nullptr),
    property(nullptr, nullptr, nullptr),
};

const KOVAPropertyDefinition kRawProperties[] = {
    property("File", &kFile, nullptr),
    property("Fps", &kRawFps, "1/s"),
    property("Rate", &kRate, nullptr),
    property("Frames", &kFrames, nullptr),
    property("Loop", &kLoops, nullptr),
    property("StartDelayUs", &kStartDelay, "us", KOVA::PropertySubTypeTime),
    property("PixelFormat", &kRawPixels, nullptr),
    property("KeepGoing", &kKeepGoing, nullptr),
    property(nullptr, nullptr, nullptr),
};

const KOVAOutputDefinition kOutputs[] = {
    { "Frames", 0, { KOVA::Stream8, "", "" }, 0, 8, 1, 1 },
    { "LoggingStartTime", 0, { KOVA::Integer64, "", "" }, 1, 4, 1, 1 },
    { nullptr, 0, { 0, nullptr, nullptr }, 0, 0, 0, 0 },
};

const KOVAInputDefinition kInputs[] = { { nullptr, 0, nullptr, 0, 0 } };
const KOVAActionDefinition kActions[] = { { nullptr, nullptr, false, { 0, 0, 0 } } };

/// Time after the last frame's time before the player ends.
constexpr KOVATimestamp kDrainMarginUs = 500000;

} // namespace

const KOVAComponentDefinition KOVAQirGrabberStreamPlayer::s_componentDefinition = {
    "QirGrabberStreamPlayer",
    "1.0.0",
    &KOVAQirGrabberStreamPlayer::Instantiate,
    nullptr,
    nullptr,
    0,
    KOVA::AllEntries,
    kInputs,
    KOVA::AllEntries,
    kOutputs,
    KOVA::AllEntries,
    kGrabberProperties,
    KOVA::AllEntries,
    kActions,
    128,
    1,
    true,
    0,
};

const KOVAComponentDefinition KOVAQirRawFramePlayer::s_componentDefinition = {
    "QirRawFramePlayer",
    "1.0.0",
    &KOVAQirRawFramePlayer::Instantiate,
    nullptr,
    nullptr,
    0,
    KOVA::AllEntries,
    kInputs,
    KOVA::AllEntries,
    kOutputs,
    KOVA::AllEntries,
    kRawProperties,
    KOVA::AllEntries,
    kActions,
    128,
    1,
    true,
    0,
};

KOVA_REGISTER_COMPONENT(KOVAQirGrabberStreamPlayer, KOVAQirGrabberStreamPlayer::s_componentDefinition);
KOVA_MODULE_MARKER(grabberModuleDescr, "QirGrabberStreamPlayer", "1.0.0");
KOVA_REGISTER_COMPONENT(KOVAQirRawFramePlayer, KOVAQirRawFramePlayer::s_componentDefinition);
KOVA_MODULE_MARKER(rawModuleDescr, "QirRawFramePlayer", "1.0.0");

KOVAComponent* KOVAQirGrabberStreamPlayer::Instantiate(const char* name, const KOVAComponentDefinition* definition)
{
    return new KOVAQirGrabberStreamPlayer(name, definition);
}

KOVAComponent* KOVAQirRawFramePlayer::Instantiate(const char* name, const KOVAComponentDefinition* definition)
{
    return new KOVAQirRawFramePlayer(name, definition);
}

KOVAQirRecordingPlayer::KOVAQirRecordingPlayer(const char* name, const KOVAComponentDefinition* definition,
                                               qir::replay::RecordingFormat format)
    : KOVAComponent(name, definition)
    , format_(format)
{ }

uint64_t KOVAQirRecordingPlayer::FrameTimeUs(const std::vector<qir::replay::FrameEntry>& frames, double fps,
                                             double rate, size_t index, uint64_t pass)
{
    if (frames.empty())
        return 0;
    double first = 0.0;
    double at = 0.0;
    double length = 0.0;
    if (fps > 0.0) {
        at = static_cast<double>(index) * 1e6 / fps;
        length = static_cast<double>(frames.size()) * 1e6 / fps;
    } else {
        first = static_cast<double>(frames.front().timeUs);
        at = static_cast<double>(frames[index].timeUs);
        // One pass lasts from the first frame to one mean frame period after the last.
        const double span = static_cast<double>(frames.back().timeUs) - first;
        length = frames.size() > 1 ? span + span / static_cast<double>(frames.size() - 1) : 1e6 / 30.0;
    }
    const double scaled = (at - first + static_cast<double>(pass) * length) / rate;
    return static_cast<uint64_t>(first + std::llround(scaled));
}

void KOVAQirRecordingPlayer::Birth()
{
    KOVAString file;
    Get(Property("File"), file);
    Get(Property("Fps"), fps_);
    Get(Property("Rate"), rate_);
    Get(Property("Frames"), frames_);
    Get(Property("Loop"), loops_);
    Get(Property("StartDelayUs"), startDelayUs_);
    bool keepGoing = false;
    Get(Property("KeepGoing"), keepGoing);
    int64_t pixels = 0;
    if (format_ == qir::replay::RecordingFormat::Raw)
        Get(Property("PixelFormat"), pixels);
    if (!(fps_ >= 0.0) || fps_ > 1e6)
        Error("[Birth] Fps must be between 0 and 1000000");
    if (format_ == qir::replay::RecordingFormat::Raw && fps_ == 0.0)
        Error("[Birth] Raw frames carry no times: Fps must be positive");
    if (!(rate_ > 0.0) || rate_ > 1e6)
        Error("[Birth] Rate must be above 0 and at most 1000000");
    if (frames_ < 0 || loops_ < 1 || startDelayUs_ < 0)
        Error("[Birth] Frames must be 0 or more, Loop 1 or more, StartDelayUs 0 or more");
    try {
        recording_.emplace(qir::replay::Recording::open(
            file.Std(), format_, pixels == 0 ? qir::replay::RawPixelFormat::Yuv422 : qir::replay::RawPixelFormat::Mono,
            keepGoing));
    } catch (const qir::replay::RecordingError& error) {
        Error((KOVAString("[Birth] ") + error.what()).c_str());
    }
    if (!recording_->damage().empty())
        ReportWarning((KOVAStreamedString() << "[Birth] " << recording_->damage() << "; playing the "
                                            << recording_->frames().size() << " whole frames before it")
                          .c_str());
    if (fps_ == 0.0 && !recording_->carriesTimes())
        Error("[Birth] The frames carry no times: Fps must be positive");
    AllocateFrames();
    handedOn_ = 0;
    bytes_ = 0;
    offsetWritten_ = false;
}

void KOVAQirRecordingPlayer::Core()
{
    const auto& frames = recording_->frames();
    const uint64_t perPass =
        frames_ > 0 ? std::min<uint64_t>(static_cast<uint64_t>(frames_), frames.size()) : frames.size();
    if (handedOn_ >= perPass * static_cast<uint64_t>(loops_)) {
        // The unit plays the last frames from its FIFO after they were sent,
        // and the unit client releases the channel (which drops what still
        // waits) once this player has ended: stay until the last frame's time
        // has come at the unit's pace, counted from the first frame handed on.
        const uint64_t last =
            FrameTimeUs(frames, fps_, rate_, static_cast<size_t>((handedOn_ - 1) % perPass), (handedOn_ - 1) / perPass);
        const KOVATimestamp due =
            firstHandedAt_ + static_cast<KOVATimestamp>(last - FrameTimeUs(frames, fps_, rate_, 0, 0)) + kDrainMarginUs;
        const KOVATimestamp now = KOVA::CurrentTime();
        if (now < due)
            Rest(due - now);
        Finish();
    }
    if (!offsetWritten_) {
        KOVA::OutputGuard<int64_t> offset(this, Output("LoggingStartTime"));
        if (!offset)
            return;
        *offset.Get() = static_cast<int64_t>(FrameTimeUs(frames, fps_, rate_, 0, 0));
        offset.Element()->Timestamp() = KOVA::CurrentTime();
        offsetWritten_ = true;
    }
    if (handedOn_ == 0 && startDelayUs_ > 0)
        Rest(startDelayUs_); // the unit client takes frames once the unit's status and the offset are in
    const size_t index = static_cast<size_t>(handedOn_ % perPass);
    const uint64_t pass = handedOn_ / perPass;
    const std::optional<size_t> written =
        WriteFrame(index, static_cast<KOVATimestamp>(FrameTimeUs(frames, fps_, rate_, index, pass)));
    if (!written)
        return;
    bytes_ += *written;
    if (handedOn_ == 0)
        firstHandedAt_ = KOVA::CurrentTime();
    ++handedOn_;
}

std::optional<size_t> KOVAQirRecordingPlayer::WriteFrame(size_t index, KOVATimestamp time)
{
    KOVA::OutputGuard<uint8_t> sample(this, Output("Frames"));
    if (!sample)
        return std::nullopt;
    // The one copy the framework asks for: from the mapped file into the
    // output's sample buffer.
    const std::span<const uint8_t> bytes = recording_->frameBytes(index);
    std::memcpy(sample.Get(), bytes.data(), bytes.size());
    sample.Element()->VectorSize() = static_cast<int32_t>(bytes.size());
    sample.Element()->Timestamp() = time;
    return bytes.size();
}

void KOVAQirRecordingPlayer::AllocateFrames()
{
    if (recording_->largestFrame() > static_cast<size_t>(std::numeric_limits<int32_t>::max()))
        Error("[Birth] A frame of the recording is too large for one sample");
    Output("Frames")->AllocOutputBuffer(static_cast<int32_t>(recording_->largestFrame()));
}

void KOVAQirRecordingPlayer::Death()
{
    ReportInfo(
        (KOVAStreamedString() << "[Death] Handed on " << handedOn_ << " frames, " << bytes_ << " bytes").c_str());
    recording_.reset();
}
