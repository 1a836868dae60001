#include "TimeGaps.h"

#include <algorithm>
#include <vector>

namespace qir::replay {

TimeGapReport findTimeGaps(std::span<const FrameEntry> frames)
{
    TimeGapReport report;
    std::vector<uint64_t> steps;
    steps.reserve(frames.size());
    for (size_t i = 1; i < frames.size(); ++i)
        if (frames[i].timeUs > frames[i - 1].timeUs)
            steps.push_back(frames[i].timeUs - frames[i - 1].timeUs);
    if (steps.empty())
        return report;
    auto middle = steps.begin() + static_cast<std::ptrdiff_t>(steps.size() / 2);
    std::nth_element(steps.begin(), middle, steps.end());
    const uint64_t period = *middle;
    report.periodSeconds = static_cast<double>(period) / 1e6;
    const uint64_t gapUs = 3 * period;
    const uint64_t jumpUs = std::max<uint64_t>(10 * period, 1'000'000);
    for (size_t i = 1; i < frames.size(); ++i) {
        if (frames[i].timeUs <= frames[i - 1].timeUs)
            continue;
        const uint64_t step = frames[i].timeUs - frames[i - 1].timeUs;
        if (step <= gapUs)
            continue;
        ++report.gaps;
        if (step > jumpUs)
            ++report.jumps;
        const double seconds = static_cast<double>(step) / 1e6;
        if (seconds > report.largestSeconds) {
            report.largestSeconds = seconds;
            report.largestAfterFrame = i - 1;
        }
    }
    return report;
}

} // namespace qir::replay
