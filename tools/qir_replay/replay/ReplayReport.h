// ReplayReport.h - qir-replay --report: the series sampled during a replay
// and the timing report written from them at the end.
#pragma once

#include "ChannelWatch.h"
#include "KOVAQirRecordingPlayer.h"
#include "OutputFile.h"
#include "ReplayRun.h"
#include "TimingCollector.h"
#include "UnitEmulator.h"

#include <cstdio>
#include <optional>
#include <span>
#include <vector>

namespace qir::replay {

/// Seconds between two samples of the report's series.
inline constexpr double kReportSamplePeriodSeconds = 0.05;

/// The counters of every recording's channel now: the players' own counts
/// (any unit) and the lateness of the frames, measured by the embedded
/// `unit` (may be null) as it plays them, or else taken from `watches` (one
/// per recording, may be empty): how long after its play time the unit's
/// status acknowledged each frame. `players[i]` may be null;
/// `framesToSend[i]` is its total.
std::vector<ChannelSample> sampleChannels(const ReplayOptions& options,
                                          const std::vector<KOVAQirRecordingPlayer*>& players,
                                          const std::vector<uint64_t>& framesToSend,
                                          const vxqir::sim::UnitEmulator* unit, std::span<const ChannelWatch> watches);

/// Writes the report of `result` with the series of `collector` into `file`
/// (opened on options.report) and puts it in place. `fifoEntries` is the unit's FIFO size when
/// known (the embedded unit's), for the sending threshold. Says where the
/// report is on `out`; a report that cannot be written is said on `err` and
/// turns a successful exit code into 1.
void writeReplayReport(qir::tools::OutputFile& file, const ReplayOptions& options, TimingCollector& collector,
                       std::optional<uint32_t> fifoEntries, ReplayResult& result, std::FILE* out, std::FILE* err);

} // namespace qir::replay
