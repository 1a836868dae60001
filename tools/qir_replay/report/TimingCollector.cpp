#include "TimingCollector.h"

#include <algorithm>

namespace qir::replay {

TimingCollector::TimingCollector(size_t channels, double periodSeconds)
    : period_(periodSeconds)
    , previous_(channels)
    , lastProgress_(channels, 0.0)
    , stalled_(channels, false)
    , series_(channels)
{ }

void TimingCollector::add(double seconds, std::span<const ChannelSample> samples)
{
    const double interval = last_ ? seconds - *last_ : 0.0;
    for (size_t i = 0; i < samples.size() && i < series_.size(); ++i) {
        const ChannelSample& now = samples[i];
        const ChannelSample& before = previous_[i];
        ChannelSeries& s = series_[i];
        if (now.fifoFree)
            s.fifoFree.push_back({ seconds, static_cast<double>(*now.fifoFree) });
        if (last_ && interval > 0.0) {
            const uint64_t frames = now.framesHandedOn - std::min(before.framesHandedOn, now.framesHandedOn);
            s.sendRate.push_back({ seconds, static_cast<double>(frames) / interval });
        }
        if (now.framesTimed) {
            const uint64_t timedBefore = before.framesTimed.value_or(0);
            if (*now.framesTimed > timedBefore) {
                const uint64_t lateNs = now.lateSumNs - std::min(before.lateSumNs, now.lateSumNs);
                s.lateness.push_back(
                    { seconds,
                      static_cast<double>(lateNs) / 1e6 / static_cast<double>(*now.framesTimed - timedBefore) });
            }
        }
        if (now.framesHandedOn > before.framesHandedOn || !last_) {
            if (stalled_[i])
                s.marks.push_back({ seconds, "resume" });
            stalled_[i] = false;
            lastProgress_[i] = seconds;
        } else if (!stalled_[i] && now.framesHandedOn < now.framesToSend &&
                   seconds - lastProgress_[i] >= kStallSeconds) {
            s.marks.push_back({ lastProgress_[i], "stall" });
            stalled_[i] = true;
        }
        previous_[i] = now;
    }
    last_ = seconds;
}

} // namespace qir::replay
