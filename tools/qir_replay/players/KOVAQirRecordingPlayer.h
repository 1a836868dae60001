// Player components of recorded camera frames: each maps one recording and
// writes its frames, one byte-stream sample each, on the output "Frames",
// stamped with their recorded time (or a time from a frame rate). Before the
// first frame it writes the first frame's time on "LoggingStartTime", the
// replay offset of the unit client, so the unit plays the recording at its
// recorded cadence.
//
//   QirGrabberStreamPlayer  grabber streams (times from each grabber header,
//                           or from "Fps" when it is positive)
//   QirRawFramePlayer       raw frames with the 64-byte raw frame header, for
//                           the image converter (times from "Fps")
//
// Replay start: before its first frame a player also writes the replay
// start and stop times on "ReplayStartTime" and "ReplayStopTime" (for a
// unit client with "StartStopTimeInputs"), so that every channel of a run
// starts at one unit time. The first that applies:
//   - "ReplayStartUs" > 0: that unit time;
//   - "StartTimeIn" connected: the start another player wrote (every player
//     but the first of a run takes the first one's start); until it comes,
//     the provisional start below;
//   - "UnitClockOffsetUs" not 0 (unit time minus engine time, as qir-replay
//     measured it through the unit client library): the engine time of the
//     first frame plus that offset plus "LeadUs";
//   - "UnitState" connected: the unit's time in its first status plus
//     "LeadUs". The unit client polls the unit's status only once it has a
//     first frame, so the first frame goes out with a provisional start far
//     in the future (the unit holds it), and the real start follows before
//     the second frame.
// Without any of them no start time is written: the unit starts on its own.
// The stop time lies a day after the last frame's time: the unit stops
// nothing of the replay; releasing the channel ends it.
//
// Pacing: frame n is handed on no earlier than its time after the first
// frame (scaled by "Rate"), so each frame reaches the unit ahead of its play
// time by about the lead, and the unit client never waits long for FIFO
// room. "Rate" 0 is as fast as flow control allows: frame n is stamped
// first + n microseconds, so the unit plays every frame as soon as it is in
// from the start time on.
//
// With "UnitState" connected to the unit client's "oReplayStateInfo", the
// player follows the unit's status: it keeps the lowest free FIFO count and
// whether the loss flag was set, and after its last frame it stays until the
// unit's clock has passed that frame's play time and the FIFO has been still
// for a while (the unit client releases the channel, dropping what waits,
// once the player has ended).
//
// Raw frames pass the image converter, whose FIFO reader lets the player
// overwrite frames it has not read: with "Converted" connected to the
// converter's output, the player keeps fewer than four frames waiting for it.
//
// "FirstFrame" and "EndFrame" (0: to the end) pick frames [first, end) of
// the recording; "Frames" and "Loop" apply to that selection ("Loop" 0:
// endlessly, until the engine stops the player).
//
// "Checked" (grabber streams, video files) holds the fingerprint of a file
// that qir-replay checked whole: while the file still matches it, Birth
// reads only the frame headers (a video file: takes the index qir-replay
// decoded in this process), so it stays short for a recording of any size.
//
// Pauses (qir-replay's keys): with a PauseClock given (UsePauseClock), the
// player asks it before each frame and holds at the frame boundary while the
// replay is paused; the frames after a pause are stamped and paced later by
// the time paused, so the unit plays them at their recorded spacing, and the
// stop time moves on with them.
//
// A damaged recording fails Birth naming the file and byte offset; with
// "KeepGoing" the whole frames before the damage are played (a warning says
// what was left out). At Death each reports "[Death] Handed on N frames, B bytes"
// and, when it saw the unit's status, "[Death] Unit status: lowest FIFO free
// F, loss flag set|clear, S statuses".
#pragma once

#include "KOVA.h"
#include "PauseClock.h"
#include "Recording.h"

#include <atomic>
#include <cstdint>
#include <deque>
#include <optional>
#include <span>
#include <string>

class KOVAQirRecordingPlayer : public KOVAComponent {
public:
    KOVAQirRecordingPlayer(const char* name, const KOVAComponentDefinition* definition,
                           qir::replay::RecordingFormat format);

    void Birth() override;
    void Core() override;
    void Death() override;

    /// Time of frame `index` of pass `pass` (from 0) of `frames`, in
    /// microseconds: recorded (or index / fps) and, for later passes,
    /// shifted by whole lengths of `frames`; scaled by 1 / rate from the
    /// first frame on. A rate of 0 (as fast as flow control allows) gives
    /// the first frame's time plus the frame's serial in microseconds.
    static uint64_t FrameTimeUs(std::span<const qir::replay::FrameEntry> frames, double fps, double rate, size_t index,
                                uint64_t pass);

    /// What the player has done so far, for a progress display.
    struct Progress {
        uint64_t framesHandedOn = 0;
        uint64_t bytesHandedOn = 0;
        uint64_t statuses = 0;   ///< unit statuses seen on "UnitState"
        uint32_t latestFree = 0; ///< free FIFO count of the latest status
        uint32_t lowestFree = 0; ///< lowest free FIFO count seen
        bool loss = false;       ///< a status showed the loss flag
        /// Unit time of the replay start the player wrote, in microseconds
        /// (-1: none yet or the unit starts on its own; kProvisionalStartUs
        /// while it waits for the unit's clock).
        int64_t startUs = -1;
        /// Video files: frames that were due before the decoder had them.
        uint64_t framesNotDecodedInTime = 0;
    };
    /// Thread-safe: may be read from any thread while the component runs
    /// (each field is read on its own, so they may be one status apart).
    Progress LiveProgress() const;

    /// For a program that runs the player in-process and reads what the
    /// unit acknowledged itself (qir-replay): called before the run, it
    /// makes the player stay after its last frame until ReleaseEnd is
    /// called or the engine stops it, however long that takes, instead of
    /// judging the unit's playout from its status. Thread-safe.
    void HoldEndUntilReleased() { holdEnd_.store(true); }
    /// Lets a held player end (once its last frame is handed on).
    /// Thread-safe.
    void ReleaseEnd() { endReleased_.store(true); }
    /// For a program that resumes a replay after its unit was lost and
    /// found again (qir-replay --on-unit-loss resume): called before the
    /// run, it makes the player begin at frame `serial` of the replay (from
    /// 0, counting every pass) instead of the first, and play it and the
    /// frames after it as if the replay had begun `referenceUs` of replay
    /// time after its first frame: the offset written on "LoggingStartTime"
    /// is the first frame's time plus `referenceUs`, so frame n plays at
    /// start + (its time - the first frame's) - `referenceUs`, and the
    /// frames keep their spacing from `serial` on. `referenceUs` is at most
    /// the replay time of `serial`. LiveProgress counts the frames before
    /// `serial` as handed on (not their bytes). Thread-safe.
    void ResumeFrom(uint64_t serial, int64_t referenceUs)
    {
        resumeSerial_.store(serial);
        resumeReferenceUs_.store(referenceUs);
    }

    /// For a program that lets the user pause the replay (qir-replay's
    /// keys): called before the run, it makes the player hold at its frame
    /// boundaries while `pauses` is paused and shift the frames after a
    /// pause by the time paused; `key` names the channel in `pauses`, whose
    /// beginRun(key) the program calls before the run. `pauses` must outlive
    /// the run; null: no pauses. Thread-safe.
    void UsePauseClock(qir::replay::PauseClock* pauses, size_t key)
    {
        pauseKey_.store(key);
        pauseSet_.store(pauses);
    }

    /// A start time far beyond any unit clock, in microseconds: the unit
    /// holds frames stamped for it until the real start arrives.
    static constexpr int64_t kProvisionalStartUs = 9'000'000'000'000'000;

protected:
    /// Writes frame `index` of the recording as one sample on "Frames",
    /// stamped `time`. Returns the bytes handed on, or nothing when no sample
    /// buffer is free (Core tries again on its next call). The default hands
    /// on the frame's bytes as a byte stream.
    virtual std::optional<size_t> WriteFrame(size_t index, KOVATimestamp time);
    /// Allocates the sample buffers of "Frames" at Birth, once the recording
    /// is open; the default fits the largest frame's bytes.
    virtual void AllocateFrames();
    const qir::replay::Recording& recording() const { return *recording_; }
    /// Opens the recording at Birth as `options` say (the format, raw
    /// pixels, damage handling and a checked fingerprint from the player's
    /// properties). Throws RecordingError.
    virtual qir::replay::Recording OpenRecording(const std::string& file, const qir::replay::OpenOptions& options);
    /// Index of the first frame picked (FirstFrame) and the frames played
    /// per pass; valid from AllocateFrames on.
    size_t FirstSelected() const { return static_cast<size_t>(selected_.data() - recording_->frames().data()); }
    uint64_t FramesPerPass() const { return perPass_; }
    /// The next frame is the first of a run that resumes a replay within
    /// the recording (ResumeFrom).
    bool FirstOfResumedRun() const { return firstSerial_ > 0 && handedOn_ == firstSerial_; }
    /// Copies frame `index` of the recording to `into` from the file; a
    /// file cut short since Birth fails the player (Error) naming the file,
    /// frame and byte.
    void CopyFrame(size_t index, uint8_t* into);
    /// Counts a frame that was due before it was ready (LiveProgress).
    void NoteFrameNotReady() { liveNotReady_.fetch_add(1, std::memory_order_relaxed); }

private:
    uint64_t frameTime(uint64_t serial) const;
    bool writeTime(const char* output, int64_t value);
    /// Writes the offset, start and stop times; false when an output had no
    /// element free (try again).
    bool writeTimes();
    /// Waits while too many frames handed on wait for the converter on
    /// "Converted" (when connected).
    void awaitConverter();
    /// The start on "StartTimeIn", or kProvisionalStartUs while none came.
    int64_t sharedStartTime();
    /// Waits (bounded) for the shared start time or the unit's clock.
    void awaitStartTime();
    /// Takes every unit status that came in on "UnitState".
    void followUnitState();
    /// After the last frame: stays until the unit has played it.
    void awaitPlayout();
    /// Waits while the replay is paused before the next frame; returns the
    /// shift of the next frame (0 without pauses).
    int64_t awaitTurn();
    int64_t stopTimeFor(int64_t startUs) const;

    qir::replay::RecordingFormat format_;
    std::optional<qir::replay::Recording> recording_;
    double fps_ = 0.0;
    double rate_ = 1.0;
    int64_t frames_ = 0; ///< frames per pass (0: all)
    int64_t loops_ = 1;  ///< passes (0: endless)
    int64_t startDelayUs_ = 0;
    int64_t replayStartUs_ = 0; ///< property: 0 = from "StartTimeIn" or the unit's clock
    int64_t leadUs_ = 1000000;
    int64_t unitClockOffsetUs_ = 0;                     ///< unit time minus engine time (0: not known)
    std::span<const qir::replay::FrameEntry> selected_; ///< FirstFrame .. EndFrame
    uint64_t perPass_ = 0;
    uint64_t handedOn_ = 0;
    uint64_t bytes_ = 0;
    bool timesWritten_ = false;
    int64_t startUs_ = -1;            ///< unit time of the replay start (-1: none, the unit picks)
    KOVATimestamp firstHandedAt_ = 0; ///< engine time the first frame was handed on
    // From the unit's status on "UnitState":
    uint64_t statuses_ = 0;
    uint32_t lowestFree_ = 0;
    uint32_t lastFree_ = 0;
    KOVATimestamp lastFreeChangeAt_ = 0; ///< engine time the free count last changed
    bool lossSeen_ = false;
    int64_t unitTimeUs_ = -1;               ///< latest unit clock seen
    std::deque<KOVATimestamp> unconverted_; ///< times of frames handed on, not yet seen converted
    // Copies of the counts above for LiveProgress(), written by the
    // component's thread.
    std::atomic<uint64_t> liveFrames_{ 0 };
    std::atomic<uint64_t> liveBytes_{ 0 };
    std::atomic<uint64_t> liveStatuses_{ 0 };
    std::atomic<uint32_t> liveLatestFree_{ 0 };
    std::atomic<uint32_t> liveLowestFree_{ 0 };
    std::atomic<bool> liveLoss_{ false };
    std::atomic<int64_t> liveStartUs_{ -1 };
    std::atomic<uint64_t> liveNotReady_{ 0 };
    // Set from other threads (HoldEndUntilReleased, ReleaseEnd); kept
    // across Birth.
    std::atomic<bool> holdEnd_{ false };
    std::atomic<bool> endReleased_{ false };
    std::atomic<uint64_t> resumeSerial_{ 0 };
    std::atomic<int64_t> resumeReferenceUs_{ 0 };
    std::atomic<qir::replay::PauseClock*> pauseSet_{ nullptr };
    std::atomic<size_t> pauseKey_{ 0 };
    qir::replay::PauseClock* pauses_ = nullptr; ///< taken at Birth
    size_t key_ = 0;
    int64_t pauseBaseUs_ = 0;  ///< time paused before this run
    int64_t firstShiftUs_ = 0; ///< shift of the run's first frame
    int64_t stopShiftUs_ = 0;  ///< shift the written stop time allows for
    uint64_t firstSerial_ = 0; ///< the first frame of this run (ResumeFrom)
    int64_t referenceUs_ = 0;  ///< replay time the start stands for (ResumeFrom)
};

class KOVAQirGrabberStreamPlayer : public KOVAQirRecordingPlayer {
public:
    static KOVAComponent* Instantiate(const char* name, const KOVAComponentDefinition* definition);
    KOVAQirGrabberStreamPlayer(const char* name, const KOVAComponentDefinition* definition)
        : KOVAQirRecordingPlayer(name, definition, qir::replay::RecordingFormat::Grabber)
    { }
    static const KOVAComponentDefinition s_componentDefinition;
};

class KOVAQirRawFramePlayer : public KOVAQirRecordingPlayer {
public:
    static KOVAComponent* Instantiate(const char* name, const KOVAComponentDefinition* definition);
    KOVAQirRawFramePlayer(const char* name, const KOVAComponentDefinition* definition)
        : KOVAQirRecordingPlayer(name, definition, qir::replay::RecordingFormat::Raw)
    { }
    static const KOVAComponentDefinition s_componentDefinition;
};
