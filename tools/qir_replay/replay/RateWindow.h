// RateWindow.h - the current rate of a channel over a sliding window of
// samples, and the time left at that rate.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <span>

namespace qir::replay {

/// One moment of a channel's replay.
struct RateSample {
    double seconds = 0.0; ///< since the replay began
    uint64_t frames = 0;  ///< handed on so far
    uint64_t bytes = 0;
    /// How far into the replay's own time (recording times scaled by the
    /// rate, from the first frame) the channel has come: the time of the
    /// next frame to hand on, but no further than the time since the first
    /// frame was handed on (a time gap in the recording passes at the
    /// clock's pace).
    double replaySeconds = 0.0;
};

/// The rates over a window of samples.
struct WindowRates {
    double framesPerSecond = 0.0;
    double bytesPerSecond = 0.0;
    /// Replay seconds gone per second (1: keeping the recording's cadence).
    double pace = 0.0;
};

/// Seconds of samples a window keeps.
inline constexpr double kRateWindowSeconds = 3.0;

/// The rates from the oldest to the newest of `samples` (oldest first);
/// nullopt when they span less than a quarter of a second.
std::optional<WindowRates> windowRates(std::span<const RateSample> samples);

/// Keeps the samples of the last `seconds`, plus the one just before them
/// so that the window spans its full length. Used on one thread.
class RateWindow {
public:
    explicit RateWindow(double seconds = kRateWindowSeconds) : seconds_(seconds) { }
    void add(const RateSample& sample);
    const std::deque<RateSample>& samples() const { return samples_; }

private:
    double seconds_;
    std::deque<RateSample> samples_;
};

} // namespace qir::replay
