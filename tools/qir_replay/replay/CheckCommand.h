// CheckCommand.h - "qir-replay check": a pre-flight of recordings without
// sending anything.
#pragma once

#include "ReplayGraph.h"

#include <cstdio>

namespace qir::replay {

/// Checks every recording of `options` and prints what it found. Returns 0
/// when every recording can be replayed as it is, 1 when one has findings
/// that make a replay doubtful (time stamps not increasing, changing
/// geometry, jumps in the times, a data rate above 10 Gbit/s), 2 when one
/// cannot be read. With `json` the findings go to `out` as one JSON
/// document (per recording its fields, its status "ready", "doubtful" or
/// "refused", and the lines of text the check would print).
int runCheck(const ReplayOptions& options, std::FILE* out, std::FILE* err, bool json = false);

} // namespace qir::replay
