// PauseClock.h - pauses of a replay shared by its players and the program
// that takes the user's keys.
//
// A pause holds every channel at a frame boundary: a player asks before each
// frame (admit) and waits while the replay is paused. The frames handed on
// after a pause play later by the time the replay stood paused (their
// shift), so they keep their recorded spacing at the unit and none is late;
// the frames before the pause are not touched. A step while paused lets one
// more frame go, the first to play of every channel's next frame, and stays
// paused: that frame is shifted by the time paused until the step.
//
// Channels are known by a key the program gives (its recording index), so a
// channel keeps its key across runs (a unit lost and found again); each run
// of a channel counts its shifts from the pauses before it (beginRun).
//
// Usage:
//
//   PauseClock pauses;                      // the program
//   pauses.beginRun(key);                   // before each run of a channel
//   ... player:  shift = admit(key, replayUs) until it gives one (Rest between),
//                hand the frame on shifted by it, handedOn(key, serial, shift),
//                leave(key) after its last frame or at Death
//   ... keys:    toggle(), step() from any thread
//   ... watch:   shiftOf(key, serial) for a frame's play time
//
// Thread-safe: every member may be called from any thread. One mutex guards
// the state; `paused_` and `shiftUs_` repeat what it guards for the players'
// path while the replay runs unpaused, which takes no lock.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

namespace qir::replay {

class PauseClock {
public:
    /// `nowUs`: a monotonic clock in microseconds (only its differences
    /// count). The default is std::chrono::steady_clock.
    explicit PauseClock(std::function<int64_t()> nowUs = {});

    // The controls.

    /// Pauses the replay: every channel holds at its next frame boundary.
    /// Returns false when it was paused already. Thread-safe.
    bool pause();
    /// Resumes a paused replay (steps asked for and not yet taken are
    /// dropped). Returns false when it was not paused. Thread-safe.
    bool resume();
    /// Pauses a running replay, resumes a paused one. Thread-safe.
    void toggle();
    /// While paused: one more frame, the first to play of every channel's
    /// next frame, then paused again. Several steps go one frame at a time.
    /// Returns false (and does nothing) when the replay is not paused.
    /// Thread-safe.
    bool step();
    /// Thread-safe.
    bool paused() const;
    /// Time paused in all so far, the current pause included, in
    /// microseconds. Thread-safe.
    int64_t pausedUs() const;
    /// Pauses so far. Thread-safe.
    uint64_t pauses() const;

    // The channels.

    /// Before a run of channel `key`: it takes part in steps, counts its
    /// shifts from the time paused so far and forgets the shifts of its
    /// earlier runs. Thread-safe.
    void beginRun(size_t key);
    /// The time paused before the current run of `key` (what its shifts are
    /// counted from), in microseconds. Thread-safe.
    int64_t baseOf(size_t key) const;
    /// Before channel `key` hands on its next frame, `replayUs` after the
    /// shared start (for the order of steps): the time paused so far, in
    /// microseconds (minus baseOf(key) it is the frame's shift), when the
    /// frame may go; nullopt while the channel must wait (paused, or a step
    /// goes to another channel's frame first). Ask again after a short
    /// rest. A channel given a step keeps it until handedOn. Thread-safe.
    std::optional<int64_t> admit(size_t key, int64_t replayUs);
    /// Channel `key` handed on frame `serial` (of its replay, from 0)
    /// shifted by `shiftUs` (the admitted time minus baseOf(key)); a step
    /// given to it is taken. Serials go up within a run. Thread-safe.
    void handedOn(size_t key, uint64_t serial, int64_t shiftUs);
    /// Channel `key` hands on no more frames in this run (its last one went,
    /// or it stops): steps no longer wait for it. Thread-safe.
    void leave(size_t key);
    /// How much later than its replay time frame `serial` of channel `key`
    /// plays, in microseconds: the shift it was handed on with, or, for a
    /// frame not yet handed on, the time paused since the run began (which
    /// grows while paused). Thread-safe.
    int64_t shiftOf(size_t key, uint64_t serial) const;

private:
    struct Channel {
        bool active = false;
        int64_t baseUs = 0;
        std::optional<int64_t> waitingAt; ///< replay time of the frame it waits to hand on
        /// (first serial, shift): frames from that serial on were handed on
        /// with that shift; serials ascending.
        std::vector<std::pair<uint64_t, int64_t>> shifts;
        std::optional<uint64_t> lastSerial; ///< the latest frame handed on in this run
    };

    int64_t pausedLocked(int64_t now) const;
    Channel& channelLocked(size_t key);
    /// Gives the pending step to the waiting channel whose frame plays
    /// first, once every channel taking part waits (or after a short while).
    void grantLocked(int64_t now);

    std::function<int64_t()> nowUs_;
    mutable std::mutex mutex_; // guards everything below but the two atomics
    std::vector<Channel> channels_;
    int64_t pausedBeforeUs_ = 0; ///< the pauses that ended
    int64_t pausedSinceUs_ = 0;  ///< start of the current pause
    uint64_t pauses_ = 0;
    uint64_t stepsPending_ = 0;
    int64_t stepAskedUs_ = 0;       ///< when the pending step began to gather the channels
    std::optional<size_t> granted_; ///< the channel given the current step
    int64_t grantedUs_ = 0;         ///< its admitted time
    // Copies for admit's path without a lock. Release stores after the
    // state they stand for, acquire loads: a player that sees the replay
    // unpaused sees the time paused that ended the pause.
    std::atomic<bool> paused_{ false };
    std::atomic<int64_t> shiftUs_{ 0 };
};

} // namespace qir::replay
