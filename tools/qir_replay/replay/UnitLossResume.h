// UnitLossResume.h - a replay that goes on after a unit was lost
// (--on-unit-loss resume): the run stops at the loss, the program waits for
// the unit to answer again, and a new run of the same graph begins every
// channel at the first frame the unit had not acknowledged, on a new start.
// What the runs before did is kept here and added to the summary.
#pragma once

#include "ChannelWatch.h"
#include "ReplayGraph.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace qir::replay {

struct ChannelSummary;

/// One channel where a replay resumed.
struct ResumedChannel {
    unsigned channel = 0;
    unsigned unit = 0;
    uint64_t resumedAt = 0;       ///< the replay's frame (from 0, every pass counted) the new run began with
    uint64_t recordingFrame = 0;  ///< the recording's index of that frame
    uint64_t framesSentAgain = 0; ///< sent whole before the loss, not acknowledged, and so sent again
};

/// A lost unit that answered again.
struct Interruption {
    std::chrono::system_clock::time_point began; ///< the lost unit's last status
    double seconds = 0.0;                        ///< from then until it answered again
    /// The lost units (index, "IP:PORT" of the control address).
    std::vector<std::pair<unsigned, std::string>> units;
    std::vector<ResumedChannel> channels;
};

/// What a channel's runs before the current one did (zero before a
/// resume). The current run's counts start from zero at the library (the
/// channel was registered anew), so the summary adds these.
struct EarlierRuns {
    uint64_t resumedAt = 0;  ///< first frame of the current run (the replay's serial)
    int64_t referenceUs = 0; ///< replay time the current run's start stands for
    uint64_t bytesHandedOn = 0;
    uint64_t framesSent = 0; ///< frames acknowledged before each loss (sent again after it: not counted twice)
    uint64_t framesAcknowledged = 0;
    uint64_t datagramsSent = 0; ///< every datagram, those of frames sent again too
    uint64_t datagramsAcknowledged = 0;
    uint64_t statusCount = 0;
    uint64_t sendTimeouts = 0;
    std::vector<Stall> stalls;
    Lateness lateness;
    bool statusSeen = false;
    uint32_t lowestFree = 0;
    bool lossFlagSeen = false;

    /// Takes in the run that just ended (the channel's last counts from the
    /// library in `latest`, the player's bytes and statuses) before a run
    /// that begins at `resumedAt` for `referenceUs`.
    void add(const std::optional<VXTQirChannelProgressT>& latest, const ChannelWatch& watch, uint64_t bytes,
             bool playerSawStatus, uint32_t playerLowestFree, bool playerLoss);
};

/// Adds what the runs before the last did to `summary` (which holds the
/// last run's counts).
void addEarlierRuns(ChannelSummary& summary, const EarlierRuns& earlier);

/// Waits for the unit at `unit` to answer again, up to `deadline`: reads its
/// clock through the library on `channel` (registers it, declares a frame,
/// takes the first status, releases it), a try at most every half second,
/// each bounded by the time left (and half a second a request). Returns its
/// time in microseconds, nullopt when it did not answer in time or `stop()`
/// became true (`why` says what the last try found).
std::optional<int64_t> awaitUnitAnswer(const UnitAddress& unit, unsigned channel,
                                       std::chrono::steady_clock::time_point deadline,
                                       const std::function<bool()>& stop, std::string& why);

/// The replay time from which every resumed channel goes on, the earliest
/// of their first frames not acknowledged (`replayTimeUs[k]` of
/// `resumeAt[k]`), so that the channels stay in step with each other.
int64_t resumeReferenceUs(const std::vector<int64_t>& resumeReplayTimesUs);

/// "unit 127.0.0.2:5000 lost from HH:MM:SS.mmm for 3.2 s; resumed channel 0
/// at frame 57 (12 frames sent again), ..."
std::string interruptionText(const Interruption& interruption, bool severalUnits);

} // namespace qir::replay
