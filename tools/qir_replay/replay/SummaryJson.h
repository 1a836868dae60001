// SummaryJson.h - the summary of a replay as JSON (--summary-json), and the
// texts it shares with the printed summary.
#pragma once

#include "ReplayRun.h"

#include <chrono>
#include <string>

namespace qir::replay {

/// "HH:MM:SS.mmm", local time.
std::string clockText(std::chrono::system_clock::time_point at);

/// "delivered", "unit lost", "stalled", "sent short" or "not delivered".
const char* channelEndName(ChannelEnd end);

/// The program's version, as the package carries it.
const char* replayVersion();

} // namespace qir::replay
