#include "ChannelWatch.h"

#include <algorithm>

namespace qir::replay {

namespace {

using SteadyClock = std::chrono::steady_clock;
using WallClock = std::chrono::system_clock;

/// How long lines must have been due before a standing FIFO counts as a
/// stall: the status that first shows them due may come before the unit
/// took them out.
constexpr std::chrono::milliseconds kDueGrace{ 1000 };

double secondsOf(SteadyClock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

WallClock::time_point wallTimeOf(SteadyClock::time_point at, SteadyClock::time_point now)
{
    return WallClock::now() - std::chrono::duration_cast<WallClock::duration>(now - at);
}

} // namespace

ChannelWatch::ChannelWatch(uint64_t framesToSend, std::function<int64_t(uint64_t)> playOffsetUs, WatchLimits limits)
    : framesToSend_(std::max<uint64_t>(framesToSend, 1))
    , playOffsetUs_(std::move(playOffsetUs))
    , limits_(limits)
{ }

bool ChannelWatch::due(const ChannelObservation& observation, const VXTQirChannelProgressT& progress) const
{
    // The first frame the unit has not acknowledged whole is in its FIFO,
    // partly, or not yet sent; every line before it in the FIFO plays no
    // later than it does.
    if (!observation.startUs)
        return false;
    const uint64_t serial = std::min(progress.framesAcknowledged, framesToSend_ - 1);
    const int64_t playAtUs = *observation.startUs + playOffsetUs_(serial);
    return static_cast<int64_t>(progress.status.currentTime_ns / 1000u) >= playAtUs;
}

ChannelEnd ChannelWatch::observe(const ChannelObservation& observation)
{
    if (end_ != ChannelEnd::Running || !observation.progress)
        return end_;
    const SteadyClock::time_point now = observation.now;
    const VXTQirChannelProgressT& p = *observation.progress;
    latest_ = p;
    if (observation.continues != continues_) {
        // This process stood still since the last poll (Ctrl-Z, SIGSTOP):
        // it could take no status meanwhile, nor watch the FIFO, so the
        // unit's silence and a standing FIFO count from now.
        continues_ = observation.continues;
        continuedAt_ = now;
        freeSince_ = now;
        sentSince_ = now;
        dueSince_.reset();
    }
    // Statuses are expected once the channel is initialised (the unit
    // answered its FIFO size after enabling them).
    if (p.fifoEntries == 0)
        return end_;
    if (!initialisedAt_) {
        initialisedAt_ = now;
        freeSince_ = now;
        sentSince_ = now;
        lastStatusWall_ = WallClock::now();
    }
    const bool statusSeen = p.statusCount > 0 && p.msSinceStatus >= 0;
    statusAge_ = statusSeen ? static_cast<double>(p.msSinceStatus) / 1000.0 : secondsOf(now - *initialisedAt_);
    if (continuedAt_)
        statusAge_ = std::min(*statusAge_, secondsOf(now - *continuedAt_));
    if (statusSeen)
        lastStatusWall_ = WallClock::now() - std::chrono::milliseconds(p.msSinceStatus);
    if (*statusAge_ * 1000.0 > static_cast<double>(limits_.unitTimeout.count())) {
        end_ = ChannelEnd::Lost;
        return end_;
    }
    if (!statusSeen)
        return end_;

    const VXTQirStatusT& status = p.status;
    if (limits_.timed && observation.startUs) {
        const auto unitNowUs = static_cast<int64_t>(status.currentTime_ns / 1000u);
        for (; framesAcknowledged_ < std::min(p.framesAcknowledged, framesToSend_); ++framesAcknowledged_) {
            const int64_t lateUs = unitNowUs - (*observation.startUs + playOffsetUs_(framesAcknowledged_));
            ++lateness_.framesJudged;
            if (lateUs <= 0)
                continue;
            lateness_.lateSumNs += static_cast<uint64_t>(lateUs) * 1000u;
            ++lateness_.frames;
            lateness_.framesOverMax += lateUs > limits_.maxLateUs ? 1 : 0;
            lateness_.maxUs = std::max(lateness_.maxUs, lateUs);
        }
    }
    lowestFree_ = std::min(lowestFree_.value_or(status.freeFifoEntries), status.freeFifoEntries);
    const bool allHandedOn = observation.framesHandedOn >= framesToSend_;
    const bool unitHasAll = p.datagramsAcknowledged == p.datagramsSent && p.framesAcknowledged == p.framesSent;
    const bool fifoEmpty = status.freeFifoEntries == p.fifoEntries;
    // Stalls: the free count standing still below the full count while
    // lines in the FIFO are due to play. A stall ends when the count moves,
    // which may be the status that shows everything played: it is kept
    // before that status ends the run as delivered (with frequent statuses
    // the FIFO can drain whole between two observations).
    if (p.statusCount != statusCount_) {
        if (statusCount_ == 0 || status.freeFifoEntries != free_) {
            if (dueSince_ && now - *dueSince_ >= std::min<SteadyClock::duration>(kDueGrace, limits_.stallTimeout) &&
                now - freeSince_ >= limits_.shortestStallKept)
                stalls_.push_back({ wallTimeOf(freeSince_, now), secondsOf(now - freeSince_) });
            free_ = status.freeFifoEntries;
            freeSince_ = now;
            dueSince_.reset();
        }
        statusCount_ = p.statusCount;
    }
    if (allHandedOn && p.framesSent >= framesToSend_ && unitHasAll && fifoEmpty) {
        end_ = ChannelEnd::Delivered;
        return end_;
    }
    if (!fifoEmpty && due(observation, p)) {
        if (!dueSince_)
            dueSince_ = now;
    } else {
        dueSince_.reset();
    }
    if (dueSince_ && now - freeSince_ >= limits_.stallTimeout &&
        now - *dueSince_ >= std::min<SteadyClock::duration>(kDueGrace, limits_.stallTimeout / 2)) {
        stalls_.push_back({ wallTimeOf(freeSince_, now), secondsOf(now - freeSince_) });
        end_ = ChannelEnd::Stalled;
        return end_;
    }

    // Every frame handed on, the unit has everything that was sent and has
    // played it, and the unit client sends nothing more: it stopped short.
    if (p.datagramsSent != datagramsSent_) {
        datagramsSent_ = p.datagramsSent;
        sentSince_ = now;
    }
    if (allHandedOn && p.framesSent < framesToSend_ && unitHasAll && fifoEmpty &&
        now - sentSince_ >= limits_.stallTimeout)
        end_ = ChannelEnd::Short;
    return end_;
}

} // namespace qir::replay
