// Summary.h - the end-of-run report: JSON for programs, one line per
// channel for people and shell scripts.
#pragma once

#include "EmulatorStats.h"
#include "FrameDumper.h"

#include <nlohmann/json_fwd.hpp>

#include <optional>
#include <string>
#include <vector>

namespace vxqir::sim {

/// What the summary tells besides the snapshot.
struct SummaryContext {
    std::string controlIp;
    uint16_t controlPort = 0;
    std::string dataIp;
    uint16_t dataBasePort = 0;
    std::string playout;
    double durationSeconds = 0.0;
    int receiveBufferBytes = 0;
    std::optional<DumpCounters> dump;
};

/// Whether what a channel received would have reached the device under
/// test: every frame begun arrived complete, every one of its lines got a
/// FIFO entry and was played, and nothing was lost, damaged, skipped or is
/// still waiting. `reasons` names what failed (no_frames, frames_incomplete,
/// packet_gaps, bad_datagrams, fifo_overflows, fifo_skipped,
/// frames_not_played, frames_awaiting_playout).
struct ChannelVerdict {
    bool delivered = false;
    std::vector<std::string> reasons;
};
ChannelVerdict channelVerdict(const ChannelSnapshot& channel);

/// The summary object: "unit" (addresses, playout, duration), "control"
/// (request and reply counters) and "channels", an array with one object per
/// channel holding at least channel, datagrams, bytes, blocks,
/// frames_complete, frames_incomplete, packet_gaps, bad_datagrams,
/// fifo_overflows, fifo_played, fifo_skipped, frames_played, verdict
/// ("delivered" or "not_delivered") with verdict_reasons, and checksum (16 hex
/// digits of the last complete frame, or null when none was complete).
nlohmann::json makeSummary(const EmulatorSnapshot& snapshot, const SummaryContext& context);

/// "channel=0 datagrams=... frames_complete=... fifo_overflows=...
/// fifo_played=... fifo_skipped=... frames_played=... verdict=delivered|not_delivered
/// checksum=<hex or ->", one line without line end, for grep and sed.
std::string verificationLine(const ChannelSnapshot& channel);

} // namespace vxqir::sim
