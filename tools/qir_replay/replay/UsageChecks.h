// UsageChecks.h - options of a replay that are refused as usage errors
// (exit 2) before anything is read or sent.
#pragma once

#include "ReplayGraph.h"

#include <optional>
#include <string>

namespace qir::replay {

/// The lowest positive frame rate taken (one frame in 1000 s).
inline constexpr double kLowestFps = 0.001;

/// The longest wait for a lost unit (--resume-within): a day.
inline constexpr double kLongestResumeWaitSeconds = 86400.0;

/// What is wrong with `options` as given: a number that is not finite, a
/// frame rate that is neither 0 nor between kLowestFps and 10^6, a lead
/// outside (0, 3600] s, a wait for a lost unit outside
/// (0, kLongestResumeWaitSeconds], or the same unit (control address) given
/// twice. nullopt when fine.
std::optional<std::string> usageError(const ReplayOptions& options);

} // namespace qir::replay
