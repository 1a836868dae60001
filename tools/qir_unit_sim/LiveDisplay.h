// LiveDisplay.h - the once-a-second status line on a terminal.
#pragma once

#include "EmulatorStats.h"

#include <string>

namespace vxqir::sim {

/// One line summing all channels between two snapshots `seconds` apart:
/// datagrams per second, payload MB/s, complete frames (and per second),
/// incomplete frames, free FIFO entries, packet gaps and the channels whose
/// loss flag is set. No line end.
std::string formatLiveLine(const EmulatorSnapshot& previous, const EmulatorSnapshot& current, double seconds);

} // namespace vxqir::sim
