// ContinueSignal.h - counts the times this process went on after a stop
// (SIGCONT: fg or bg after Ctrl-Z, kill -CONT after SIGSTOP), so that what
// judges the unit by time can leave out the time the replay itself stood
// still.
#pragma once

#include <cstdint>

namespace qir::replay {

/// Installs the SIGCONT handler that counts (once; later calls do nothing).
/// Without it continues() stays 0.
void countContinues();

/// How many times the process went on after a stop since countContinues().
/// Async-signal-safe.
uint64_t continues() noexcept;

} // namespace qir::replay
