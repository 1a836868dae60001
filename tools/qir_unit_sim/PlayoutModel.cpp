#include "PlayoutModel.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace vxqir::sim {
namespace {

class ImmediatePlayout final : public PlayoutModel {
public:
    PlayoutDecision schedule(const FifoEntry& head, const PlayoutContext& context) const override
    {
        return { std::max(head.arrivalNs, context.playerFreeNs), false, 0 };
    }
    std::string_view name() const override { return "immediate"; }
};

class LineRatePlayout final : public PlayoutModel {
public:
    explicit LineRatePlayout(uint64_t periodNs) : periodNs_(periodNs) { }

    PlayoutDecision schedule(const FifoEntry& head, const PlayoutContext& context) const override
    {
        return { std::max(head.arrivalNs, context.playerFreeNs) + periodNs_, false, 0 };
    }
    std::string_view name() const override { return "line-rate"; }

private:
    uint64_t periodNs_;
};

class TimestampPlayout final : public PlayoutModel {
public:
    PlayoutDecision schedule(const FifoEntry& head, const PlayoutContext& context) const override
    {
        const ReplayTimes& t = context.times;
        const uint64_t start = t.startNs != 0 ? t.startNs : context.firstArrivalNs;
        const uint64_t offset = t.offsetNs != 0 ? t.offsetNs : context.firstTimestampNs;
        const uint64_t sinceOffset = head.timestampNs > offset ? head.timestampNs - offset : 0;
        const uint64_t intended = saturatingAdd(start, sinceOffset);
        const uint64_t due = std::max({ intended, head.arrivalNs, context.playerFreeNs });
        if (t.stopNs != 0 && due > t.stopNs)
            return { std::max({ t.stopNs, head.arrivalNs, context.playerFreeNs }), true, intended };
        return { due, false, intended };
    }
    std::string_view name() const override { return "timestamps"; }

private:
    static uint64_t saturatingAdd(uint64_t a, uint64_t b) { return a > UINT64_MAX - b ? UINT64_MAX : a + b; }
};

} // namespace

std::unique_ptr<PlayoutModel> makeImmediatePlayout()
{
    return std::make_unique<ImmediatePlayout>();
}

std::unique_ptr<PlayoutModel> makeLineRatePlayout(double linesPerSecond)
{
    if (!(linesPerSecond > 0.0) || !std::isfinite(linesPerSecond))
        throw std::invalid_argument("line rate must be a positive number of lines per second");
    const double period = 1e9 / linesPerSecond;
    return std::make_unique<LineRatePlayout>(static_cast<uint64_t>(std::max(1.0, std::round(period))));
}

std::unique_ptr<PlayoutModel> makeTimestampPlayout()
{
    return std::make_unique<TimestampPlayout>();
}

} // namespace vxqir::sim
