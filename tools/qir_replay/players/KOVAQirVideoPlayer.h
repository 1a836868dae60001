// QirVideoPlayer: an ordinary video file (MP4, MKV, MOV, AVI, ... as FFmpeg
// reads them) as IPL images on "Frames", one per decoded frame, stamped with
// its presentation time (or a time from "Fps").
//
// "PixelFormat" is the layout the frames are converted to (rgb24, bgr24,
// gray8, gray16le, yuyv422, uyvy422); the IPL image's channels, depth and
// line size follow it, and the unit client sends its lines whole, without
// padding. "Stream" picks the container's stream (-1: FFmpeg's best video
// stream).
//
// "Checked" holds the fingerprint of the file as qir-replay decoded it
// whole in this process: while the file still matches it and qir-replay
// holds that index, Birth takes the frame times from it instead of decoding
// the file once more.
//
// Frames are decoded ahead on a thread of the player's own into a queue of
// a few frames, pass after pass of the frames picked; at Death the player
// reports how many frames were due before the decoder had them.
#pragma once

#include "KOVAQirRecordingPlayer.h"
#include "VideoFrameQueue.h"

#include <memory>

class KOVAQirVideoPlayer : public KOVAQirRecordingPlayer {
public:
    static KOVAComponent* Instantiate(const char* name, const KOVAComponentDefinition* definition);
    KOVAQirVideoPlayer(const char* name, const KOVAComponentDefinition* definition)
        : KOVAQirRecordingPlayer(name, definition, qir::replay::RecordingFormat::Video)
    { }
    static const KOVAComponentDefinition s_componentDefinition;

    void Death() override;

protected:
    qir::replay::Recording OpenRecording(const std::string& file, const qir::replay::OpenOptions& options) override;
    std::optional<size_t> WriteFrame(size_t index, KOVATimestamp time) override;
    void AllocateFrames() override;

private:
    /// Starts decoding ahead (at Birth, so the first frames are ready when due).
    void startDecoding();

    std::unique_ptr<qir::video::VideoFrameQueue> queue_;
    std::unique_ptr<qir::video::DecodedFrame> pending_; ///< taken, not yet written (no sample was free)
    uint64_t framesNotReady_ = 0;                       ///< frames due before the decoder had them
    bool tookFrame_ = false;                            ///< this run has handed a frame on
};
