// UnitTime.h - the unit's clock, read through the unit client library
// before a replay, so that every channel can be given one start time.
#pragma once

#include "ReplayGraph.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace qir::replay {

/// Reads the clock of the unit at `control` / `data` as a real unit gives
/// it: registers `channel` briefly, declares a one-pixel frame (which
/// enables the channel's periodic status), takes the unit time of the
/// first status, and releases the channel again (the unit disables the
/// channel; the run's unit client sets it up anew).
///
/// Returns the unit time in microseconds, or nullopt with the reason in
/// `why` (the unit did not answer within `timeout`, the channel is not
/// served, ...). `ptpSynced`, when given, receives the status's PTP
/// synchronisation flag. Blocks up to about `timeout` plus the library's own probe
/// of both addresses. Thread-safe as the library is.
std::optional<int64_t> readUnitTimeUs(const Endpoint& control, const Endpoint& data, unsigned channel,
                                      std::chrono::milliseconds timeout, std::string& why, bool* ptpSynced = nullptr);

} // namespace qir::replay
