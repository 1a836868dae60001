#include "PauseClock.h"

#include <algorithm>
#include <chrono>

namespace qir::replay {

namespace {

/// A step waits this long for every channel to come to its frame boundary
/// (one that is held elsewhere, by flow control or the converter, must not
/// hold the step); then it goes to the first frame of those that wait.
constexpr int64_t kStepGatherUs = 200'000;

int64_t steadyNowUs()
{
    return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

PauseClock::PauseClock(std::function<int64_t()> nowUs)
    : nowUs_(nowUs ? std::move(nowUs) : std::function<int64_t()>(&steadyNowUs))
{ }

int64_t PauseClock::pausedLocked(int64_t now) const
{
    return pausedBeforeUs_ + (paused_.load(std::memory_order_relaxed) ? now - pausedSinceUs_ : 0);
}

PauseClock::Channel& PauseClock::channelLocked(size_t key)
{
    if (key >= channels_.size())
        channels_.resize(key + 1);
    return channels_[key];
}

bool PauseClock::pause()
{
    std::lock_guard lock(mutex_);
    if (paused_.load(std::memory_order_relaxed))
        return false;
    pausedSinceUs_ = nowUs_();
    ++pauses_;
    stepsPending_ = 0;
    granted_.reset();
    for (Channel& channel : channels_)
        channel.waitingAt.reset();
    paused_.store(true, std::memory_order_release);
    return true;
}

bool PauseClock::resume()
{
    std::lock_guard lock(mutex_);
    if (!paused_.load(std::memory_order_relaxed))
        return false;
    pausedBeforeUs_ += nowUs_() - pausedSinceUs_;
    stepsPending_ = 0;
    granted_.reset();
    shiftUs_.store(pausedBeforeUs_, std::memory_order_release);
    paused_.store(false, std::memory_order_release);
    return true;
}

void PauseClock::toggle()
{
    if (!pause())
        resume();
}

bool PauseClock::step()
{
    std::lock_guard lock(mutex_);
    if (!paused_.load(std::memory_order_relaxed))
        return false;
    if (stepsPending_ == 0 && !granted_)
        stepAskedUs_ = nowUs_();
    ++stepsPending_;
    return true;
}

bool PauseClock::paused() const
{
    return paused_.load(std::memory_order_acquire);
}

int64_t PauseClock::pausedUs() const
{
    std::lock_guard lock(mutex_);
    return pausedLocked(nowUs_());
}

uint64_t PauseClock::pauses() const
{
    std::lock_guard lock(mutex_);
    return pauses_;
}

void PauseClock::beginRun(size_t key)
{
    std::lock_guard lock(mutex_);
    Channel& channel = channelLocked(key);
    channel = Channel{};
    channel.active = true;
    channel.baseUs = pausedLocked(nowUs_());
}

int64_t PauseClock::baseOf(size_t key) const
{
    std::lock_guard lock(mutex_);
    return key < channels_.size() ? channels_[key].baseUs : 0;
}

void PauseClock::grantLocked(int64_t now)
{
    if (stepsPending_ == 0 || granted_)
        return;
    bool everyOneWaits = true;
    std::optional<size_t> first;
    for (size_t key = 0; key < channels_.size(); ++key) {
        const Channel& channel = channels_[key];
        if (!channel.active)
            continue;
        if (!channel.waitingAt) {
            everyOneWaits = false;
            continue;
        }
        if (!first || *channel.waitingAt < *channels_[*first].waitingAt)
            first = key;
    }
    if (!first || (!everyOneWaits && now - stepAskedUs_ < kStepGatherUs))
        return;
    granted_ = first;
    grantedUs_ = pausedLocked(now);
    --stepsPending_;
}

std::optional<int64_t> PauseClock::admit(size_t key, int64_t replayUs)
{
    if (!paused_.load(std::memory_order_acquire))
        return shiftUs_.load(std::memory_order_acquire);
    std::lock_guard lock(mutex_);
    if (!paused_.load(std::memory_order_relaxed))
        return pausedBeforeUs_;
    if (granted_ == key)
        return grantedUs_;
    Channel& channel = channelLocked(key);
    channel.waitingAt = replayUs;
    grantLocked(nowUs_());
    if (granted_ == key)
        return grantedUs_;
    return std::nullopt;
}

void PauseClock::handedOn(size_t key, uint64_t serial, int64_t shiftUs)
{
    std::lock_guard lock(mutex_);
    Channel& channel = channelLocked(key);
    channel.waitingAt.reset();
    if (channel.shifts.empty() || channel.shifts.back().second != shiftUs)
        channel.shifts.emplace_back(serial, shiftUs);
    channel.lastSerial = serial;
    if (granted_ == key) {
        granted_.reset();
        // The next step gathers the channels from now on.
        stepAskedUs_ = nowUs_();
    }
}

void PauseClock::leave(size_t key)
{
    std::lock_guard lock(mutex_);
    Channel& channel = channelLocked(key);
    channel.active = false;
    channel.waitingAt.reset();
    if (granted_ == key) {
        // It stops with the step unused: the step goes to another channel.
        granted_.reset();
        ++stepsPending_;
    }
}

int64_t PauseClock::shiftOf(size_t key, uint64_t serial) const
{
    std::lock_guard lock(mutex_);
    if (key >= channels_.size())
        return pausedLocked(nowUs_());
    const Channel& channel = channels_[key];
    if (channel.lastSerial && serial <= *channel.lastSerial) {
        const auto after = std::upper_bound(channel.shifts.begin(), channel.shifts.end(), serial,
                                            [](uint64_t s, const auto& entry) { return s < entry.first; });
        return after == channel.shifts.begin() ? 0 : std::prev(after)->second;
    }
    if (granted_ == key)
        return grantedUs_ - channel.baseUs;
    return pausedLocked(nowUs_()) - channel.baseUs;
}

} // namespace qir::replay
