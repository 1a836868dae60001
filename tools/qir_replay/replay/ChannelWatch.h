// ChannelWatch.h - the end of one channel's replay, judged from what the
// unit acknowledged: done when the unit's status shows the last datagram
// received and its FIFO back to its full free count; lost when no status
// came for the unit time-out; stalled when its FIFO holds lines due to play
// and their free count stands still for the stall time-out. No time cap: a
// replay runs as long as it makes progress. Time the replay itself stood
// still (stopped with Ctrl-Z or SIGSTOP) counts for neither time-out: no
// status could be taken meanwhile.
#pragma once

#include "VXQIRApiProgress.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace qir::replay {

struct WatchLimits {
    std::chrono::milliseconds unitTimeout{ 1000 };  ///< no status this long: the unit is lost
    std::chrono::milliseconds stallTimeout{ 5000 }; ///< FIFO not played this long: stalled
    /// Shorter stalls than this are not kept for the summary.
    std::chrono::milliseconds shortestStallKept{ 1000 };
    /// Frames are timed (not --rate max): a frame the unit acknowledged
    /// only after its play time is late.
    bool timed = true;
    /// Late frames beyond this many microseconds are counted apart.
    int64_t maxLateUs = 0;
};

/// Frames the unit acknowledged only after their play time (by the unit's
/// clock in the status that acknowledged them): they cannot have played on
/// time. The status period makes this a bound from above.
struct Lateness {
    uint64_t frames = 0;        ///< acknowledged after their play time
    uint64_t framesOverMax = 0; ///< more than maxLateUs after it
    int64_t maxUs = 0;          ///< the latest, in microseconds
    uint64_t framesJudged = 0;  ///< acknowledged and compared with their play time
    uint64_t lateSumNs = 0;     ///< summed lateness of the judged frames (in time: 0)
};

/// A channel at one poll.
struct ChannelObservation {
    std::chrono::steady_clock::time_point now;
    /// The library's counts (nullopt: the channel is not registered).
    std::optional<VXTQirChannelProgressT> progress;
    uint64_t framesHandedOn = 0;    ///< by the player
    std::optional<int64_t> startUs; ///< unit time of the replay start, once known
    /// Times this process went on after a stop (Ctrl-Z, SIGSTOP) so far: a
    /// change means it stood still since the poll before.
    uint64_t continues = 0;
};

/// A time the FIFO did not play although lines were due.
struct Stall {
    std::chrono::system_clock::time_point began;
    double seconds = 0.0;
};

enum class ChannelEnd {
    Running,
    Delivered, ///< every frame acknowledged and the FIFO played empty
    Lost,      ///< no status for the unit time-out
    Stalled,   ///< the FIFO did not play for the stall time-out
    Short,     ///< the unit client stopped sending before the last frame
};

/// Used on one thread.
class ChannelWatch {
public:
    /// `playOffsetUs(serial)`: how long after the start frame `serial` of
    /// the replay (from 0) plays, in unit microseconds.
    ChannelWatch(uint64_t framesToSend, std::function<int64_t(uint64_t)> playOffsetUs, WatchLimits limits);

    /// Takes one poll; returns the channel's end (Running until one is
    /// reached, then that one for good).
    ChannelEnd observe(const ChannelObservation& observation);

    ChannelEnd end() const { return end_; }
    /// The latest counts of the registered channel (nullopt: never seen).
    const std::optional<VXTQirChannelProgressT>& latest() const { return latest_; }
    /// Seconds since the unit's latest status, once statuses are expected
    /// (the channel initialised); nullopt before.
    std::optional<double> statusAgeSeconds() const { return statusAge_; }
    /// Wall-clock time of the unit's latest status (or of the channel's
    /// initialisation before the first).
    std::chrono::system_clock::time_point lastStatusAt() const { return lastStatusWall_; }
    /// Stalls that ended (kept when at least shortestStallKept long), and
    /// the one that ended the channel.
    const std::vector<Stall>& stalls() const { return stalls_; }
    /// The lowest free FIFO count seen in the unit's status (nullopt: none).
    std::optional<uint32_t> lowestFree() const { return lowestFree_; }
    const Lateness& lateness() const { return lateness_; }

private:
    bool due(const ChannelObservation& observation, const VXTQirChannelProgressT& progress) const;

    uint64_t framesToSend_;
    std::function<int64_t(uint64_t)> playOffsetUs_;
    WatchLimits limits_;
    ChannelEnd end_ = ChannelEnd::Running;
    std::optional<VXTQirChannelProgressT> latest_;
    std::optional<std::chrono::steady_clock::time_point> initialisedAt_;
    uint64_t continues_ = 0;
    // When the process last went on after a stop: statuses are awaited
    // from then on.
    std::optional<std::chrono::steady_clock::time_point> continuedAt_;
    std::optional<double> statusAge_;
    std::chrono::system_clock::time_point lastStatusWall_{};
    std::optional<uint32_t> lowestFree_;
    // The free count and since when it stands still; since when lines are
    // due while it does.
    uint64_t statusCount_ = 0;
    uint32_t free_ = 0;
    std::chrono::steady_clock::time_point freeSince_{};
    std::optional<std::chrono::steady_clock::time_point> dueSince_;
    // Datagrams sent and since when that count stands still.
    uint64_t datagramsSent_ = 0;
    std::chrono::steady_clock::time_point sentSince_{};
    std::vector<Stall> stalls_;
    uint64_t framesAcknowledged_ = 0; ///< judged for lateness so far
    Lateness lateness_;
};

} // namespace qir::replay
