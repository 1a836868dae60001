#include "LiveDisplay.h"

#include <cinttypes>
#include <cstdio>

namespace vxqir::sim {
namespace {

struct Totals {
    uint64_t datagrams = 0;
    uint64_t bytes = 0;
    uint64_t frames = 0;
    uint64_t incomplete = 0;
    uint64_t gaps = 0;
    uint64_t free = 0;
    uint64_t capacity = 0;
};

Totals sum(const EmulatorSnapshot& s)
{
    Totals t;
    for (const ChannelSnapshot& c : s.channels) {
        t.datagrams += c.datagrams;
        t.bytes += c.bytes;
        t.frames += c.frames.framesComplete;
        t.incomplete += c.frames.framesIncomplete;
        t.gaps += c.packetGaps;
        t.free += c.fifoCapacity - c.fifoUsed;
        t.capacity += c.fifoCapacity;
    }
    return t;
}

} // namespace

std::string formatLiveLine(const EmulatorSnapshot& previous, const EmulatorSnapshot& current, double seconds)
{
    const Totals a = sum(previous);
    const Totals b = sum(current);
    const double s = seconds > 0.0 ? seconds : 1.0;
    std::string loss;
    for (const ChannelSnapshot& c : current.channels) {
        if (c.loss)
            loss += (loss.empty() ? "ch" : ",") + std::to_string(c.channel);
    }
    char line[256];
    std::snprintf(line, sizeof(line),
                  "%.0f dgram/s  %.1f MB/s  frames %" PRIu64 " (%.1f/s)  incomplete %" PRIu64 "  free %" PRIu64
                  "/%" PRIu64 "  gaps %" PRIu64 "  loss %s",
                  static_cast<double>(b.datagrams - a.datagrams) / s, static_cast<double>(b.bytes - a.bytes) / s / 1e6,
                  b.frames, static_cast<double>(b.frames - a.frames) / s, b.incomplete, b.free, b.capacity, b.gaps,
                  loss.empty() ? "-" : loss.c_str());
    return line;
}

} // namespace vxqir::sim
