// TimingCollector.h - samples a replay's per-channel counters over time for
// the timing report.
#pragma once

#include "TimingReport.h"

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace qir::replay {

/// The counters of one channel at one moment.
struct ChannelSample {
    uint64_t framesHandedOn = 0;      ///< by the player, so far
    uint64_t framesToSend = 0;        ///< by the player, in all
    std::optional<uint32_t> fifoFree; ///< free entries of the latest unit status (none seen: nullopt)
    /// Frames the unit played against their times so far and their summed
    /// lateness (embedded unit only; nullopt: not measured).
    std::optional<uint64_t> framesTimed;
    uint64_t lateSumNs = 0;
};

/// Turns samples of the running counters into series: the free FIFO count
/// as sampled, the send rate and the mean lateness of the frames played
/// between two samples. A channel that hands no frame on for
/// kStallSeconds while frames remain to send is marked "stall" where its
/// last frame went, and "resume" where the next one goes.
///
/// Thread-bound to the thread that samples.
class TimingCollector {
public:
    static constexpr double kStallSeconds = 0.5;

    /// `channels` series; a sample is taken at most every `periodSeconds`.
    TimingCollector(size_t channels, double periodSeconds);

    /// True when a sample at `seconds` (since the replay began) is due.
    bool due(double seconds) const { return !last_ || seconds - *last_ >= period_; }

    /// Adds a sample of every channel (`samples` in channel order; missing
    /// channels stay as they are).
    void add(double seconds, std::span<const ChannelSample> samples);

    const std::vector<ChannelSeries>& series() const { return series_; }
    std::vector<ChannelSeries>& series() { return series_; }

private:
    double period_;
    std::optional<double> last_;
    std::vector<ChannelSample> previous_;
    std::vector<double> lastProgress_; ///< per channel: when a frame last went
    std::vector<bool> stalled_;
    std::vector<ChannelSeries> series_;
};

} // namespace qir::replay
