#include "UnitLossResume.h"

#include "ReplayRun.h"
#include "SummaryJson.h"
#include "UnitTime.h"

#include <algorithm>
#include <cstdio>
#include <thread>

namespace qir::replay {

namespace {

using SteadyClock = std::chrono::steady_clock;

/// Tries to reach a lost unit no more often than this.
constexpr std::chrono::milliseconds kTryPeriod{ 500 };
/// Each try waits at most this long for the unit's first status.
constexpr std::chrono::milliseconds kLongestTry{ 500 };

} // namespace

void EarlierRuns::add(const std::optional<VXTQirChannelProgressT>& latest, const ChannelWatch& watch, uint64_t bytes,
                      bool playerSawStatus, uint32_t playerLowestFree, bool playerLoss)
{
    if (latest) {
        framesSent += latest->framesAcknowledged;
        framesAcknowledged += latest->framesAcknowledged;
        datagramsSent += latest->datagramsSent;
        datagramsAcknowledged += latest->datagramsAcknowledged;
        statusCount += latest->statusCount;
        sendTimeouts += latest->sendTimeouts;
        lossFlagSeen = lossFlagSeen || latest->status.loss != 0;
    }
    bytesHandedOn += bytes;
    stalls.insert(stalls.end(), watch.stalls().begin(), watch.stalls().end());
    const Lateness& late = watch.lateness();
    lateness.frames += late.frames;
    lateness.framesOverMax += late.framesOverMax;
    lateness.maxUs = std::max(lateness.maxUs, late.maxUs);
    lateness.framesJudged += late.framesJudged;
    lateness.lateSumNs += late.lateSumNs;
    std::optional<uint32_t> lowest = watch.lowestFree();
    if (playerSawStatus)
        lowest = std::min(lowest.value_or(playerLowestFree), playerLowestFree);
    if (lowest) {
        lowestFree = statusSeen ? std::min(lowestFree, *lowest) : *lowest;
        statusSeen = true;
    }
    lossFlagSeen = lossFlagSeen || playerLoss;
}

void addEarlierRuns(ChannelSummary& summary, const EarlierRuns& earlier)
{
    summary.bytesHandedOn += earlier.bytesHandedOn;
    summary.framesSent += earlier.framesSent;
    summary.framesAcknowledged += earlier.framesAcknowledged;
    summary.datagramsSent += earlier.datagramsSent;
    summary.datagramsAcknowledged += earlier.datagramsAcknowledged;
    summary.statusCount += earlier.statusCount;
    summary.sendTimeouts += earlier.sendTimeouts;
    summary.stalls.insert(summary.stalls.begin(), earlier.stalls.begin(), earlier.stalls.end());
    Lateness& late = summary.lateness;
    late.frames += earlier.lateness.frames;
    late.framesOverMax += earlier.lateness.framesOverMax;
    late.maxUs = std::max(late.maxUs, earlier.lateness.maxUs);
    late.framesJudged += earlier.lateness.framesJudged;
    late.lateSumNs += earlier.lateness.lateSumNs;
    if (earlier.statusSeen) {
        summary.lowestFifoFree =
            summary.statusSeen ? std::min(summary.lowestFifoFree, earlier.lowestFree) : earlier.lowestFree;
        summary.statusSeen = true;
    }
    summary.lossFlagSeen = summary.lossFlagSeen || earlier.lossFlagSeen;
}

std::optional<int64_t> awaitUnitAnswer(const UnitAddress& unit, unsigned channel, SteadyClock::time_point deadline,
                                       const std::function<bool()>& stop, std::string& why)
{
    why = "it was not tried";
    for (;;) {
        const auto tried = SteadyClock::now();
        if (tried >= deadline || stop())
            return std::nullopt;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - tried);
        const auto timeout = std::clamp(left, std::chrono::milliseconds(50), kLongestTry);
        if (const auto time = readUnitTimeUs(unit.control, unit.data, channel, timeout, why))
            return time;
        // The next try half a second after this one began (no flood of
        // requests at a unit that refuses them at once).
        const auto next = std::min(tried + kTryPeriod, deadline);
        while (SteadyClock::now() < next && !stop())
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

int64_t resumeReferenceUs(const std::vector<int64_t>& resumeReplayTimesUs)
{
    if (resumeReplayTimesUs.empty())
        return 0;
    return std::max<int64_t>(0, *std::min_element(resumeReplayTimesUs.begin(), resumeReplayTimesUs.end()));
}

std::string interruptionText(const Interruption& interruption, bool severalUnits)
{
    std::string units;
    for (const auto& [index, control] : interruption.units)
        units +=
            (units.empty() ? "" : " and ") + control + (severalUnits ? " (unit " + std::to_string(index) + ")" : "");
    char seconds[48];
    std::snprintf(seconds, sizeof seconds, "%.1f s", interruption.seconds);
    std::string text = "unit " + units + " lost from " + clockText(interruption.began) + " for " + seconds;
    std::string resumed;
    for (const ResumedChannel& c : interruption.channels)
        resumed += (resumed.empty() ? "; resumed channel " : ", channel ") + std::to_string(c.channel) +
            (severalUnits ? "@" + std::to_string(c.unit) : "") + " at frame " + std::to_string(c.resumedAt) + " (" +
            std::to_string(c.framesSentAgain) + " frames sent again)";
    return text + resumed;
}

} // namespace qir::replay
