#include "KOVAQirRecordingPlayer.h"

#include "KOVAQirPlayerTables.h"

#include "VXQIRApi.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace {

using qir_players::property;

constexpr KOVAPropertyDefault kRawFps = KOVAPropertyDefault::Float(30.0);
constexpr KOVAPropertyDefault kRawPixels = KOVAPropertyDefault::Enum("YUV422|Mono", 0);

/// Raw frames: the players' properties with 30 frames/s and a pixel format.
const KOVAPropertyDefinition kRawProperties[] = {
    property("File", &qir_players::kFile, nullptr),
    property("Fps", &kRawFps, "1/s"),
    property("Rate", &qir_players::kRate, nullptr),
    property("Frames", &qir_players::kFrames, nullptr),
    property("Loop", &qir_players::kLoops, nullptr),
    property("StartDelayUs", &qir_players::kStartDelay, "us", KOVA::PropertySubTypeTime),
    property("PixelFormat", &kRawPixels, nullptr),
    property("KeepGoing", &qir_players::kKeepGoing, nullptr),
    property("ReplayStartUs", &qir_players::kReplayStart, "us", KOVA::PropertySubTypeTime),
    property("LeadUs", &qir_players::kLead, "us", KOVA::PropertySubTypeTime),
    property("UnitClockOffsetUs", &qir_players::kUnitClockOffset, "us", KOVA::PropertySubTypeTime),
    property("FirstFrame", &qir_players::kFirstFrame, nullptr),
    property("EndFrame", &qir_players::kEndFrame, nullptr),
    property(nullptr, nullptr, nullptr),
};

const KOVAOutputDefinition kOutputs[] = {
    qir_players::framesOutput({ .code = KOVA::Stream8, .name = "", .unit = "" }),
    qir_players::kLoggingStartTimeOutput,
    qir_players::kReplayStartTimeOutput,
    qir_players::kReplayStopTimeOutput,
    qir_players::kOutputsEnd,
};


/// Time after the last frame's time before the player ends.
constexpr KOVATimestamp kDrainMarginUs = 500000;
/// After the last frame: how long the unit's FIFO must stay still.
constexpr KOVATimestamp kFifoStillUs = 200000;
/// Longest wait for the shared start time or the unit's first status.
constexpr KOVATimestamp kStartTimeWaitUs = 10000000;
/// Longest wait after the last frame beyond the lead and its play time.
constexpr KOVATimestamp kPlayoutWaitUs = 30000000;
constexpr KOVATimestamp kPollUs = 10000;
/// With pauses: the longest rest before a frame's time between looks at
/// whether the replay was paused meanwhile.
constexpr KOVATimestamp kPauseLookUs = 20000;
/// Frames handed on that the converter behind the player has not yet
/// converted, at most: its FIFO reader lets the player's output overwrite
/// what it has not read (8 elements), so the player waits below that.
constexpr size_t kMaxUnconverted = 4;
/// The converter showing no progress this long ends the replay.
constexpr KOVATimestamp kConverterStallUs = 30000000;
/// The stop time lies this long after the last frame's play time.
constexpr int64_t kStopAfterUs = 86'400'000'000;
/// The stop time of an endless replay ("Loop" 0) lies this long after its
/// start: ten years, beyond any run, yet far from the unit clock's limit.
constexpr int64_t kEndlessStopAfterUs = 315'360'000'000'000;

} // namespace

const KOVAComponentDefinition KOVAQirGrabberStreamPlayer::s_componentDefinition =
    qir_players::playerDefinition("QirGrabberStreamPlayer", &KOVAQirGrabberStreamPlayer::Instantiate, kOutputs);

const KOVAComponentDefinition KOVAQirRawFramePlayer::s_componentDefinition =
    KOVA::ThreadedComponent({ .name = "QirRawFramePlayer",
                              .version = "1.0.0",
                              .instantiate = &KOVAQirRawFramePlayer::Instantiate,
                              .inputs = qir_players::kPlayerInputs,
                              .outputs = kOutputs,
                              .properties = kRawProperties,
                              .actions = qir_players::kNoActions });

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

uint64_t KOVAQirRecordingPlayer::FrameTimeUs(std::span<const qir::replay::FrameEntry> frames, double fps, double rate,
                                             size_t index, uint64_t pass)
{
    if (frames.empty())
        return 0;
    if (rate == 0.0) {
        const uint64_t first = fps > 0.0 ? 0 : frames.front().timeUs;
        return first + pass * frames.size() + index;
    }
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
    Get(Property("ReplayStartUs"), replayStartUs_);
    Get(Property("LeadUs"), leadUs_);
    Get(Property("UnitClockOffsetUs"), unitClockOffsetUs_);
    int64_t firstFrame = 0;
    int64_t endFrame = 0;
    Get(Property("FirstFrame"), firstFrame);
    Get(Property("EndFrame"), endFrame);
    if (!(rate_ >= 0.0) || rate_ > 1e6)
        Error("[Birth] Rate must be 0 (as fast as flow control allows) or above, and at most 1000000");
    if (frames_ < 0 || loops_ < 0 || startDelayUs_ < 0)
        Error("[Birth] Frames must be 0 or more, Loop 0 (endless) or more, StartDelayUs 0 or more");
    if (replayStartUs_ < 0 || replayStartUs_ >= kProvisionalStartUs || leadUs_ <= 0 || leadUs_ > 3'600'000'000)
        Error("[Birth] ReplayStartUs must be 0 or a unit time, LeadUs above 0 and at most an hour");
    qir::replay::OpenOptions open;
    open.format = format_;
    open.rawPixels = pixels == 0 ? qir::replay::RawPixelFormat::Yuv422 : qir::replay::RawPixelFormat::Mono;
    open.keepGoing = keepGoing;
    if (format_ == qir::replay::RecordingFormat::Grabber || format_ == qir::replay::RecordingFormat::Video) {
        // A file checked whole before (and unchanged since) is indexed from
        // its frame headers, or takes the video index decoded in this
        // process: Birth stays short for any size.
        KOVAString checked;
        Get(Property("Checked"), checked);
        open.checked = checked.Std();
    }
    try {
        recording_.emplace(OpenRecording(file.Std(), open));
    } catch (const qir::replay::RecordingError& error) {
        Error((KOVAString("[Birth] ") + error.what()).c_str());
    }
    if (!recording_->damage().empty())
        ReportWarning((KOVAStreamedString() << "[Birth] " << recording_->damage() << "; playing the "
                                            << recording_->frames().size() << " whole frames before it")
                          .c_str());
    if (fps_ == 0.0 && !recording_->carriesTimes())
        Error("[Birth] The frames carry no times: Fps must be positive");
    const auto& frames = recording_->frames();
    const auto count = static_cast<int64_t>(frames.size());
    if (endFrame == 0)
        endFrame = count;
    if (firstFrame < 0 || endFrame > count || firstFrame >= endFrame)
        Error((KOVAStreamedString() << "[Birth] FirstFrame " << firstFrame << " and EndFrame " << endFrame
                                    << " pick no frames of the recording's " << count << " frames")
                  .c_str());
    selected_ = std::span<const qir::replay::FrameEntry>(frames).subspan(static_cast<size_t>(firstFrame),
                                                                         static_cast<size_t>(endFrame - firstFrame));
    perPass_ = frames_ > 0 ? std::min<uint64_t>(static_cast<uint64_t>(frames_), selected_.size()) : selected_.size();
    AllocateFrames();
    const uint64_t total = perPass_ * static_cast<uint64_t>(loops_);
    firstSerial_ = std::min(resumeSerial_.load(), total);
    referenceUs_ =
        std::clamp<int64_t>(resumeReferenceUs_.load(), 0, static_cast<int64_t>(frameTime(firstSerial_) - frameTime(0)));
    handedOn_ = firstSerial_;
    bytes_ = 0;
    timesWritten_ = false;
    startUs_ = -1;
    statuses_ = 0;
    lowestFree_ = 0;
    lastFree_ = 0;
    lastFreeChangeAt_ = 0;
    lossSeen_ = false;
    unitTimeUs_ = -1;
    unconverted_.clear();
    liveFrames_ = handedOn_;
    liveBytes_ = 0;
    liveStatuses_ = 0;
    liveLatestFree_ = 0;
    liveLowestFree_ = 0;
    liveLoss_ = false;
    liveStartUs_ = -1;
    pauses_ = pauseSet_.load();
    key_ = pauseKey_.load();
    pauseBaseUs_ = pauses_ ? pauses_->baseOf(key_) : 0;
    firstShiftUs_ = 0;
    stopShiftUs_ = 0;
}

KOVAQirRecordingPlayer::Progress KOVAQirRecordingPlayer::LiveProgress() const
{
    Progress progress;
    // Statuses first: a status count above 0 promises free counts from one.
    progress.statuses = liveStatuses_.load(std::memory_order_acquire);
    progress.latestFree = liveLatestFree_.load(std::memory_order_relaxed);
    progress.lowestFree = liveLowestFree_.load(std::memory_order_relaxed);
    progress.loss = liveLoss_.load(std::memory_order_relaxed);
    progress.framesHandedOn = liveFrames_.load(std::memory_order_relaxed);
    progress.bytesHandedOn = liveBytes_.load(std::memory_order_relaxed);
    progress.startUs = liveStartUs_.load(std::memory_order_relaxed);
    progress.framesNotDecodedInTime = liveNotReady_.load(std::memory_order_relaxed);
    return progress;
}

uint64_t KOVAQirRecordingPlayer::frameTime(uint64_t serial) const
{
    // A pass lasts as long as the frames it plays, not the whole selection.
    return FrameTimeUs(selected_.first(perPass_), fps_, rate_, static_cast<size_t>(serial % perPass_),
                       serial / perPass_);
}

int64_t KOVAQirRecordingPlayer::stopTimeFor(int64_t startUs) const
{
    if (startUs == kProvisionalStartUs)
        return kProvisionalStartUs + kStopAfterUs;
    if (loops_ == 0)
        return startUs + kEndlessStopAfterUs;
    const uint64_t total = perPass_ * static_cast<uint64_t>(loops_);
    const auto span = static_cast<int64_t>(frameTime(total - 1) - frameTime(0));
    return startUs + span + kStopAfterUs;
}

bool KOVAQirRecordingPlayer::writeTime(const char* output, int64_t value)
{
    KOVA::OutputGuard<int64_t> time(this, Output(output));
    if (!time)
        return false;
    *time.Get() = value;
    time.Element()->Timestamp() = KOVA::CurrentTime();
    return true;
}

bool KOVAQirRecordingPlayer::writeTimes()
{
    // The start time is written before the offset: the unit client reads
    // the offset first, and once it has one, with the start and stop
    // times already in, it sends them together before the first frame.
    if (startUs_ != -1) {
        if (!writeTime("ReplayStartTime", startUs_) || !writeTime("ReplayStopTime", stopTimeFor(startUs_)))
            return false;
        liveStartUs_.store(startUs_, std::memory_order_relaxed);
    }
    return writeTime("LoggingStartTime", static_cast<int64_t>(frameTime(0)) + referenceUs_);
}

void KOVAQirRecordingPlayer::followUnitState()
{
    KOVAInput* input = FindInput("UnitState");
    if (!input || !input->IsConnected())
        return;
    const KOVATimestamp now = KOVA::CurrentTime();
    while (DataAvailableInFIFO(input) > 0) {
        KOVA::InputGuard<VXTQirStatusT> sample(this, input);
        if (!sample)
            return;
        const VXTQirStatusT status = *sample.Get();
        if (statuses_ == 0 || status.freeFifoEntries < lowestFree_)
            lowestFree_ = status.freeFifoEntries;
        if (statuses_ == 0 || status.freeFifoEntries != lastFree_)
            lastFreeChangeAt_ = now;
        lastFree_ = status.freeFifoEntries;
        lossSeen_ = lossSeen_ || status.loss;
        unitTimeUs_ = static_cast<int64_t>(status.currentTime_ns / 1000u);
        ++statuses_;
        liveLatestFree_.store(lastFree_, std::memory_order_relaxed);
        liveLowestFree_.store(lowestFree_, std::memory_order_relaxed);
        liveLoss_.store(lossSeen_, std::memory_order_relaxed);
        liveStatuses_.store(statuses_, std::memory_order_release);
    }
}

void KOVAQirRecordingPlayer::awaitConverter()
{
    KOVAInput* converted = FindInput("Converted");
    if (!converted || !converted->IsConnected())
        return;
    KOVATimestamp progressAt = KOVA::CurrentTime();
    for (;;) {
        if (DataAvailableInFIFO(converted) > 0) {
            KOVAIOElt* element = StartReading(converted);
            const KOVATimestamp newest = element ? element->Timestamp() : 0;
            StopReading(converted);
            while (element && !unconverted_.empty() && unconverted_.front() <= newest) {
                unconverted_.pop_front();
                progressAt = KOVA::CurrentTime();
            }
        }
        if (unconverted_.size() < kMaxUnconverted)
            return;
        if (KOVA::CurrentTime() - progressAt > kConverterStallUs)
            Error("[Core] The image converter took no frame for 30 s");
        Rest(1000);
    }
}

int64_t KOVAQirRecordingPlayer::sharedStartTime()
{
    KOVAInput* shared = FindInput("StartTimeIn");
    if (DataAvailableInFIFO(shared) > 0) {
        KOVA::InputGuard<int64_t> start(this, shared);
        if (start && *start.Get() > 0 && *start.Get() != kProvisionalStartUs)
            return *start.Get();
    }
    return kProvisionalStartUs;
}

void KOVAQirRecordingPlayer::awaitStartTime()
{
    KOVAInput* shared = FindInput("StartTimeIn");
    const bool fromShared = shared && shared->IsConnected();
    const KOVATimestamp limit = KOVA::CurrentTime() + kStartTimeWaitUs;
    for (;;) {
        if (fromShared) {
            startUs_ = sharedStartTime();
            if (startUs_ != kProvisionalStartUs)
                return;
        }
        if (!fromShared) {
            followUnitState();
            if (unitTimeUs_ >= 0) {
                startUs_ = unitTimeUs_ + leadUs_;
                return;
            }
        }
        if (KOVA::CurrentTime() > limit)
            Error(fromShared ? "[Core] No replay start time arrived on StartTimeIn within 10 s"
                             : "[Core] The unit reported no status on UnitState within 10 s");
        Rest(kPollUs);
    }
}

void KOVAQirRecordingPlayer::awaitPlayout()
{
    if (holdEnd_.load()) {
        // The program that holds the player judges the end from what the
        // unit acknowledged; Rest raises when the engine stops the player.
        while (!endReleased_.load()) {
            followUnitState();
            Rest(kPollUs);
        }
        return;
    }
    const uint64_t last = handedOn_ - 1;
    const KOVATimestamp now = KOVA::CurrentTime();
    if (statuses_ == 0 || startUs_ < 0) {
        // Without the unit's status: wait for the last frame's time at the
        // unit's pace, counted from the first frame handed on (plus the lead
        // when the frames were stamped for a start time).
        const KOVATimestamp due = firstHandedAt_ +
            static_cast<KOVATimestamp>(frameTime(last) - frameTime(firstSerial_)) + (startUs_ >= 0 ? leadUs_ : 0) +
            kDrainMarginUs;
        if (now < due)
            Rest(due - now);
        return;
    }
    // The unit's clock must pass the last frame's play time, and its FIFO
    // must stay still (nothing more arriving or leaving) for a while.
    const int64_t playedBy = startUs_ + static_cast<int64_t>(frameTime(last) - frameTime(0)) - referenceUs_;
    // The last frame's play time is at most a lead and a replay away.
    const int64_t ahead = std::clamp<int64_t>(playedBy - std::max<int64_t>(unitTimeUs_, 0), 0, kStopAfterUs);
    const KOVATimestamp limit = now + leadUs_ + kPlayoutWaitUs + ahead;
    for (;;) {
        followUnitState();
        const KOVATimestamp at = KOVA::CurrentTime();
        if (unitTimeUs_ >= playedBy + 100000 && at - lastFreeChangeAt_ >= kFifoStillUs)
            return;
        if (at > limit) {
            ReportWarning("[Core] The unit did not show its FIFO played out in time; ending anyway");
            return;
        }
        Rest(kPollUs);
    }
}

int64_t KOVAQirRecordingPlayer::awaitTurn()
{
    if (!pauses_)
        return 0;
    // The frame's time after the shared start orders the channels' frames
    // for a step.
    const int64_t replayUs = static_cast<int64_t>(frameTime(handedOn_) - frameTime(0)) - referenceUs_;
    for (;;) {
        if (const std::optional<int64_t> pausedUs = pauses_->admit(key_, replayUs))
            return *pausedUs - pauseBaseUs_;
        // Rest raises when the engine stops the player.
        followUnitState();
        Rest(kPollUs);
    }
}

void KOVAQirRecordingPlayer::Core()
{
    followUnitState();
    if (handedOn_ > firstSerial_ && startUs_ == kProvisionalStartUs) {
        // The first frame went out and made the unit client poll the unit:
        // now the real start time can be had.
        awaitStartTime();
        while (!writeTimes())
            Rest(kPollUs);
    }
    // Endless ("Loop" 0): the frames go on until the engine stops the player.
    const uint64_t total =
        loops_ == 0 ? std::numeric_limits<uint64_t>::max() : perPass_ * static_cast<uint64_t>(loops_);
    if (handedOn_ >= total) {
        if (pauses_)
            pauses_->leave(key_);
        awaitPlayout();
        Finish();
    }
    if (!timesWritten_) {
        KOVAInput* shared = FindInput("StartTimeIn");
        KOVAInput* state = FindInput("UnitState");
        if (replayStartUs_ > 0)
            startUs_ = replayStartUs_;
        else if (shared && shared->IsConnected())
            // Another player's start, once that player has it: the unit
            // client forwards a new start only with a sample, so a frame sent
            // under the provisional start could be the last one it sees.
            awaitStartTime();
        else if (unitClockOffsetUs_ != 0)
            startUs_ = KOVA::CurrentTime() + unitClockOffsetUs_ + leadUs_;
        else if (state && state->IsConnected())
            startUs_ = kProvisionalStartUs; // the real one follows the unit's first status
        // Otherwise the unit starts on its own (at the first frame's arrival).
        if (!writeTimes())
            return;
        timesWritten_ = true;
    }
    if (handedOn_ == firstSerial_ && startDelayUs_ > 0)
        Rest(startDelayUs_);
    int64_t shiftUs = awaitTurn();
    while (handedOn_ > firstSerial_ && rate_ > 0.0) {
        const KOVATimestamp due = firstHandedAt_ +
            static_cast<KOVATimestamp>(frameTime(handedOn_) - frameTime(firstSerial_)) + (shiftUs - firstShiftUs_);
        const KOVATimestamp now = KOVA::CurrentTime();
        if (now >= due)
            break;
        if (!pauses_) {
            Rest(due - now);
            break;
        }
        // A pause during a long wait (a gap in the recording's times) holds
        // this frame too.
        Rest(std::min(due - now, kPauseLookUs));
        shiftUs = awaitTurn();
    }
    if (shiftUs != stopShiftUs_ && startUs_ > 0 && startUs_ != kProvisionalStartUs) {
        // The stop time lies a day after the last frame's play time, which
        // the pauses moved on.
        if (!writeTime("ReplayStopTime", stopTimeFor(startUs_) + shiftUs))
            return;
        stopShiftUs_ = shiftUs;
    }
    awaitConverter();
    const size_t index =
        static_cast<size_t>(handedOn_ % perPass_) + static_cast<size_t>(selected_.data() - recording_->frames().data());
    const auto stamp = static_cast<KOVATimestamp>(static_cast<int64_t>(frameTime(handedOn_)) + shiftUs);
    const std::optional<size_t> written = WriteFrame(index, stamp);
    if (!written)
        return;
    bytes_ += *written;
    if (handedOn_ == firstSerial_) {
        firstHandedAt_ = KOVA::CurrentTime();
        firstShiftUs_ = shiftUs;
    }
    if (pauses_)
        pauses_->handedOn(key_, handedOn_, shiftUs);
    unconverted_.push_back(stamp);
    ++handedOn_;
    liveBytes_.store(bytes_, std::memory_order_relaxed);
    liveFrames_.store(handedOn_, std::memory_order_relaxed);
}

qir::replay::Recording KOVAQirRecordingPlayer::OpenRecording(const std::string& file,
                                                             const qir::replay::OpenOptions& options)
{
    return qir::replay::Recording::open(file, options);
}

std::optional<size_t> KOVAQirRecordingPlayer::WriteFrame(size_t index, KOVATimestamp time)
{
    KOVA::OutputGuard<uint8_t> sample(this, Output("Frames"));
    if (!sample)
        return std::nullopt;
    // The one copy the framework asks for: from the file into the output's
    // sample buffer (read, not taken from the mapping, so that a file cut
    // short meanwhile fails the player instead of faulting).
    const std::span<const uint8_t> bytes = recording_->frameBytes(index);
    CopyFrame(index, sample.Get());
    sample.Element()->VectorSize() = static_cast<int32_t>(bytes.size());
    sample.Element()->Timestamp() = time;
    return bytes.size();
}

void KOVAQirRecordingPlayer::CopyFrame(size_t index, uint8_t* into)
{
    try {
        recording_->copyFrame(index, into);
    } catch (const qir::replay::RecordingError& error) {
        Error((KOVAString("[Core] ") + error.what()).c_str());
    }
}

void KOVAQirRecordingPlayer::AllocateFrames()
{
    if (recording_->largestFrame() > static_cast<size_t>(std::numeric_limits<int32_t>::max()))
        Error("[Birth] A frame of the recording is too large for one sample");
    Output("Frames")->AllocOutputBuffer(static_cast<int32_t>(recording_->largestFrame()));
}

void KOVAQirRecordingPlayer::Death()
{
    if (pauses_)
        pauses_->leave(key_);
    ReportInfo(
        (KOVAStreamedString() << "[Death] Handed on " << handedOn_ - firstSerial_ << " frames, " << bytes_ << " bytes")
            .c_str());
    if (statuses_ > 0)
        ReportInfo((KOVAStreamedString() << "[Death] Unit status: lowest FIFO free " << lowestFree_ << ", loss flag "
                                         << (lossSeen_ ? "set" : "clear") << ", " << statuses_ << " statuses")
                       .c_str());
    recording_.reset();
}
