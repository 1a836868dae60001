#include "UsageChecks.h"

#include <cmath>
#include <cstdio>

namespace qir::replay {

namespace {

std::string numberText(double value)
{
    char text[48];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

} // namespace

std::optional<std::string> usageError(const ReplayOptions& options)
{
    const struct {
        const char* name;
        double value;
    } numbers[] = {
        { "--fps", options.fps },
        { "--rate", options.rate },
        { "--lead", options.leadSeconds },
        { "--unit-timeout", options.unitTimeoutSeconds },
        { "--stall-timeout", options.stallTimeoutSeconds },
        { "--max-late", options.maxLateMs.value_or(0.0) },
        { "--resume-within", options.resumeWithinSeconds },
    };
    for (const auto& number : numbers)
        if (!std::isfinite(number.value))
            return std::string(number.name) + " " + numberText(number.value) + ": give a number";
    if (options.fps != 0.0 && !(options.fps >= kLowestFps && options.fps <= 1e6))
        return "--fps " + numberText(options.fps) + ": give 0 (the recorded times) or a frame rate from " +
            numberText(kLowestFps) + " to 1000000";
    if (!(options.resumeWithinSeconds > 0.0 && options.resumeWithinSeconds <= kLongestResumeWaitSeconds))
        return "--resume-within " + numberText(options.resumeWithinSeconds) + ": give seconds above 0, at most " +
            numberText(kLongestResumeWaitSeconds);
    if (!(options.leadSeconds > 0.0 && options.leadSeconds <= 3600.0))
        return "--lead " + numberText(options.leadSeconds) + ": give seconds above 0, at most 3600";
    for (size_t a = 0; a < options.units.size(); ++a)
        for (size_t b = a + 1; b < options.units.size(); ++b)
            if (options.units[a].ip == options.units[b].ip && options.units[a].port == options.units[b].port)
                return "--unit " + options.units[a].ip + ":" + std::to_string(options.units[a].port) +
                    " is given twice (units " + std::to_string(a) + " and " + std::to_string(b) +
                    "): name each unit once and give its channels with --map FILE=CHANNEL@UNIT";
    return std::nullopt;
}

} // namespace qir::replay
