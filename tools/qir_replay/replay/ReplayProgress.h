// ReplayProgress.h - the progress of a replay, one line per channel: live
// lines redrawn in place on a terminal, plain periodic lines otherwise.
#pragma once

#include "RateWindow.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace qir::replay {

/// One channel's progress at one moment.
struct ChannelProgress {
    unsigned channel = 0;
    std::optional<unsigned> unit; ///< shown as "CHANNEL@UNIT" when several units are used
    std::string recording;        ///< shown by its file name
    uint64_t framesSent = 0;      ///< handed on by the player
    uint64_t framesTotal = 0;     ///< kEndlessFrames: endless, no ETA
    uint64_t bytesSent = 0;
    std::optional<uint32_t> fifoFreeLatest; ///< nullopt: no unit status seen yet
    std::optional<uint32_t> fifoFreeLowest;
    bool loss = false;                            ///< the unit's status showed the loss flag
    std::optional<uint64_t> framesCompleteAtUnit; ///< with the embedded unit
    /// Seconds from the channel's first frame handed on to its last, once
    /// every frame is sent: its rates are over that time.
    std::optional<double> secondsToLastFrame;
    /// The latest samples, oldest first, over kRateWindowSeconds: the rates
    /// shown are over them (the current rates, not averages since the start).
    std::vector<RateSample> window;
    /// The replay's length in its own time (RateSample::replaySeconds of
    /// the end); the ETA is the time left at the current pace. nullopt
    /// (--rate max): the frames left at the current frame rate.
    std::optional<double> replaySecondsTotal;
    /// Seconds until the next frame's time, while the player waits for it.
    std::optional<double> secondsToNextFrame;
    std::optional<uint64_t> framesAcknowledged; ///< by the unit (nullopt: channel not registered yet)
    /// Seconds since the unit's latest status; beyond kStaleStatusSeconds
    /// the line shows the unit as stale instead of its last figures.
    std::optional<double> statusAgeSeconds;
    std::string end;     ///< "delivered" or "FAILED" once the channel ended
    bool paused = false; ///< the user paused the replay (its keys)
};

/// ChannelProgress::framesTotal of an endless replay (--loop 0).
inline constexpr uint64_t kEndlessFrames = UINT64_MAX;

/// A unit status older than this shows as stale.
inline constexpr double kStaleStatusSeconds = 0.25;
/// A wait for the next frame's time longer than this shows as waiting.
inline constexpr double kWaitingShownSeconds = 1.0;

struct ProgressSnapshot {
    double elapsedSeconds = 0.0; ///< since the replay began
    std::vector<ChannelProgress> channels;
};

/// The progress lines of `snapshot`, one per channel, without line ends.
/// `columns` > 0 cuts each line to fit that many columns.
std::vector<std::string> progressLines(const ProgressSnapshot& snapshot, size_t columns = 0);

/// The text that shows `snapshot`: live, it first moves the cursor up over
/// the `linesShown` lines drawn before and draws over them; plain, it
/// writes each line after "replaying" and the elapsed time.
std::string progressText(const ProgressSnapshot& snapshot, bool live, size_t linesShown, size_t columns = 0);

/// Shows a replay's progress on `out`: on a terminal at most 5 times a
/// second, in place; otherwise every 2 s; never when quiet. While the
/// replay runs in the background of its terminal (Ctrl-Z, bg) the shell's
/// lines are there, so only the final state is shown, below them. Used on
/// one thread.
class ProgressDisplay {
public:
    ProgressDisplay(std::FILE* out, bool quiet);

    /// Shows `take()` when it is time to (always when `final`, so that the
    /// last state stays on screen).
    void update(const std::function<ProgressSnapshot()>& take, bool final);

private:
    std::FILE* out_;
    bool quiet_;
    bool live_;
    size_t columns_ = 0;
    size_t linesShown_ = 0;
    std::optional<std::chrono::steady_clock::time_point> last_;
};

} // namespace qir::replay
