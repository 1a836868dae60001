// ReplayFifo.h - a channel's replay FIFO: one entry per block, played out
// and freed by a playout model against the unit clock.
#pragma once

#include "PlayoutModel.h"

#include <cstdint>
#include <deque>
#include <memory>
#include <unordered_map>

namespace vxqir::sim {

/// Counters of one FIFO since the emulator started.
struct FifoCounters {
    uint64_t pushed = 0;    ///< blocks that took an entry
    uint64_t played = 0;    ///< entries freed by playing them
    uint64_t skipped = 0;   ///< entries freed without playing (after the stop time, or reset)
    uint64_t overflows = 0; ///< blocks that found no free entry
    uint32_t maxFill = 0;   ///< largest number of entries in use at once
    // Whole frames, once the channel has found them complete (sealFrame):
    uint64_t framesPlayed = 0;    ///< every line of the frame was played
    uint64_t framesNotPlayed = 0; ///< a line was skipped, overflowed or never queued
    // Play times of the frames played, against the times their timestamps
    // ask for (only under a playout model that plays by timestamps). A
    // frame's play time is that of its last line; it is late by how much
    // the latest of its lines played after its time.
    uint64_t framesTimed = 0;        ///< frames played with a time to meet
    uint64_t lateSumNs = 0;          ///< their lateness, summed
    uint64_t lateMaxNs = 0;          ///< the latest one
    uint64_t framesLateOver1ms = 0;  ///< frames played more than 1 ms after their time
    uint64_t firstFramePlayedNs = 0; ///< unit time the first frame played (0: none yet)
    uint64_t lastFramePlayedNs = 0;  ///< unit time the latest frame played
};

/// Replay FIFO of one channel. Time only moves forward when the caller
/// passes a later unit time to `advance`, `push` or `release`: playout is
/// computed lazily from the entries' scheduled times, so a manual clock
/// drives it exactly.
///
/// It also follows frames through playout: entries carry the serial of their
/// frame, and once the channel seals a frame as complete, the frame counts
/// as played when every one of its lines was played, and as not played as
/// soon as one was skipped, overflowed or never queued. A frame sealed while
/// lines of it still wait is counted when the last of them leaves.
///
/// Thread-bound: guarded by the owning channel's lock.
class ReplayFifo {
public:
    /// `capacity` entries (at least 1); `model` decides when entries leave.
    ReplayFifo(uint32_t capacity, std::unique_ptr<PlayoutModel> model);

    /// Plays out every entry due at or before `nowNs` (none while frozen).
    void advance(uint64_t nowNs);

    /// Takes an entry for a block that arrived at `entry.arrivalNs`.
    /// Returns false (an overflow, counted) when no entry is free after
    /// playing out what is due.
    bool push(const FifoEntry& entry);

    /// Free entries after playing out what is due at `nowNs`.
    uint32_t freeEntries(uint64_t nowNs);

    /// Stops playout: entries stay until `release`.
    void freeze() { frozen_ = true; }
    /// Resumes playout from `nowNs`; entries already due play at once.
    void release(uint64_t nowNs);
    bool frozen() const { return frozen_; }

    /// Drops every entry (counted as skipped) and forgets the first block of
    /// the run, as a channel reset or re-enable does.
    void clear();

    /// The frame with this serial arrived complete with `lines` lines.
    void sealFrame(uint64_t serial, uint16_t lines);
    /// The frame with this serial ended incomplete: it is not followed.
    void forgetFrame(uint64_t serial);
    /// Complete frames with lines still waiting in the FIFO.
    uint64_t framesAwaitingPlayout() const { return sealedWaiting_; }

    void setTimes(const ReplayTimes& times) { times_ = times; }

    uint32_t capacity() const { return capacity_; }
    uint32_t used() const { return static_cast<uint32_t>(entries_.size()); }
    const FifoCounters& counters() const { return counters_; }
    const PlayoutModel& model() const { return *model_; }

private:
    struct FrameTally {
        uint32_t queued = 0; ///< lines in the FIFO now
        uint32_t played = 0;
        uint16_t lines = 0; ///< set when sealed
        bool lost = false;  ///< a line was skipped or overflowed
        bool sealed = false;
        bool forgotten = false;
        bool timed = false;      ///< a line played against a timestamp
        uint64_t lateNs = 0;     ///< the latest line's lateness
        uint64_t playedAtNs = 0; ///< when the last line played
    };

    void leave(const FifoEntry& entry, bool played, const PlayoutDecision& decision);
    /// Counts and drops a tally once nothing of its frame waits any more.
    void settle(uint64_t serial);
    /// Adds a frame played whole to the play-time counters.
    void notePlayed(const FrameTally& tally);

    uint32_t capacity_;
    std::unique_ptr<PlayoutModel> model_;
    std::deque<FifoEntry> entries_;
    FifoCounters counters_;
    ReplayTimes times_;
    uint64_t playerFreeNs_ = 0;
    bool haveFirst_ = false;
    uint64_t firstArrivalNs_ = 0;
    uint64_t firstTimestampNs_ = 0;
    bool frozen_ = false;
    std::unordered_map<uint64_t, FrameTally> frames_; // frames with lines queued or not yet ended
    uint64_t sealedWaiting_ = 0;
};

} // namespace vxqir::sim
