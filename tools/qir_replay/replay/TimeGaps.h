// TimeGaps.h - gaps and jumps in a recording's frame times, for check.
#pragma once

#include "Recording.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace qir::replay {

/// The times between frames of a recording against its usual frame period.
struct TimeGapReport {
    double periodSeconds = 0.0; ///< the median time between frames (0: fewer than two increasing times)
    /// Times between frames longer than three periods (frames missing).
    uint64_t gaps = 0;
    /// Of those, times longer than ten periods and at least a second: the
    /// replay waits through them as recorded.
    uint64_t jumps = 0;
    /// The longest time between two frames beyond three periods: the frame
    /// after which it lies and its length.
    std::optional<size_t> largestAfterFrame;
    double largestSeconds = 0.0;
};

/// Finds gaps and jumps in the recorded times of `frames` (times that do
/// not increase are left out: check reports them on their own).
TimeGapReport findTimeGaps(std::span<const FrameEntry> frames);

} // namespace qir::replay
