// ReplayCapture.h - the capture of the embedded unit's datagrams at the end
// of a replay.
#pragma once

#include "ReplayRun.h"
#include "UnitEmulator.h"

#include <cstdio>

namespace qir::replay {

/// Puts the capture of the stopped embedded `unit` in place, when it has
/// one, and says so on `out`. A capture that cannot be written is reported
/// on `err` (and in result.errors) and turns a successful exit code into 1.
void commitCapture(const vxqir::sim::UnitEmulator& unit, std::FILE* out, std::FILE* err, ReplayResult& result);

} // namespace qir::replay
