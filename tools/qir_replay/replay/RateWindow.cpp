#include "RateWindow.h"

namespace qir::replay {

std::optional<WindowRates> windowRates(std::span<const RateSample> samples)
{
    if (samples.size() < 2)
        return std::nullopt;
    const RateSample& first = samples.front();
    const RateSample& last = samples.back();
    const double span = last.seconds - first.seconds;
    if (!(span >= 0.25) || last.frames < first.frames || last.bytes < first.bytes)
        return std::nullopt;
    WindowRates rates;
    rates.framesPerSecond = static_cast<double>(last.frames - first.frames) / span;
    rates.bytesPerSecond = static_cast<double>(last.bytes - first.bytes) / span;
    rates.pace = (last.replaySeconds - first.replaySeconds) / span;
    return rates;
}

void RateWindow::add(const RateSample& sample)
{
    samples_.push_back(sample);
    // Drop the oldest while the next one alone still reaches back a whole window.
    while (samples_.size() > 2 && sample.seconds - samples_[1].seconds >= seconds_)
        samples_.pop_front();
}

} // namespace qir::replay
