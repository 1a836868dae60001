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
// A damaged recording fails Birth naming the file and byte offset; with
// "KeepGoing" the whole frames before the damage are played (a warning says
// what was left out). At Death each reports "[Death] Handed on N frames, B bytes".
#pragma once

#include "KOVA.h"
#include "Recording.h"

#include <cstdint>
#include <optional>

class KOVAQirRecordingPlayer : public KOVAComponent {
public:
    KOVAQirRecordingPlayer(const char* name, const KOVAComponentDefinition* definition,
                           qir::replay::RecordingFormat format);

    void Birth() override;
    void Core() override;
    void Death() override;

    /// Time of frame `index` of pass `pass` (from 0), in microseconds:
    /// recorded (or index / fps) and, for later passes, shifted by whole
    /// recording lengths; scaled by 1 / rate from the first frame on.
    static uint64_t FrameTimeUs(const std::vector<qir::replay::FrameEntry>& frames, double fps, double rate,
                                size_t index, uint64_t pass);

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

private:
    qir::replay::RecordingFormat format_;
    std::optional<qir::replay::Recording> recording_;
    double fps_ = 0.0;
    double rate_ = 1.0;
    int64_t frames_ = 0; ///< frames per pass (0: all)
    int64_t loops_ = 1;
    int64_t startDelayUs_ = 0;
    uint64_t handedOn_ = 0;
    uint64_t bytes_ = 0;
    bool offsetWritten_ = false;
    KOVATimestamp firstHandedAt_ = 0; ///< engine time the first frame was handed on
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
