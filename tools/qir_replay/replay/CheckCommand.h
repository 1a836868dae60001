// CheckCommand.h - "qir-replay check": a pre-flight of recordings without
// sending anything.
#pragma once

#include "ReplayGraph.h"

#include <cstdio>

namespace qir::replay {

/// Checks every recording of `options` and prints what it found. Returns 0
/// when every recording can be replayed as it is, 1 when one has findings
/// that make a replay doubtful (time stamps not increasing, changing
/// geometry, a data rate above 10 Gbit/s), 2 when one cannot be read.
int runCheck(const ReplayOptions& options, std::FILE* out, std::FILE* err);

} // namespace qir::replay
