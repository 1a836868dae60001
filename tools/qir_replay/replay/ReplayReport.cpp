#include "ReplayReport.h"

#include "OutputFile.h"

#include <algorithm>
#include <string>

#ifndef QIR_REPLAY_VERSION
#define QIR_REPLAY_VERSION "unknown"
#endif

namespace qir::replay {
namespace {

// The client sends while at least this share of the FIFO is free.
constexpr double kSendingThresholdShare = 0.2;

std::string count(uint64_t value)
{
    return std::to_string(value);
}

std::string milliseconds(double value)
{
    char buffer[32];
    std::snprintf(buffer, sizeof(buffer), "%.3f", value);
    return buffer;
}

} // namespace

std::vector<ChannelSample> sampleChannels(const ReplayOptions& options,
                                          const std::vector<KOVAQirRecordingPlayer*>& players,
                                          const std::vector<uint64_t>& framesToSend,
                                          const vxqir::sim::UnitEmulator* unit, std::span<const ChannelWatch> watches)
{
    const auto emulated = unit ? unit->counters() : vxqir::sim::EmulatorSnapshot{};
    std::vector<ChannelSample> samples(players.size());
    for (size_t i = 0; i < players.size(); ++i) {
        if (players[i] != nullptr) {
            const KOVAQirRecordingPlayer::Progress p = players[i]->LiveProgress();
            samples[i].framesHandedOn = p.framesHandedOn;
            samples[i].framesToSend = framesToSend[i];
            if (p.statuses > 0)
                samples[i].fifoFree = p.latestFree;
        }
        const unsigned channel = channelOf(options, i);
        if (unit && channel < emulated.channels.size()) {
            samples[i].framesTimed = emulated.channels[channel].fifo.framesTimed;
            samples[i].lateSumNs = emulated.channels[channel].fifo.lateSumNs;
        } else if (!unit && i < watches.size() && options.rate > 0) {
            samples[i].framesTimed = watches[i].lateness().framesJudged;
            samples[i].lateSumNs = watches[i].lateness().lateSumNs;
        }
    }
    return samples;
}

void writeReplayReport(qir::tools::OutputFile& file, const ReplayOptions& options, TimingCollector& collector,
                       std::optional<uint32_t> fifoEntries, ReplayResult& result, std::FILE* out, std::FILE* err)
{
    TimingReportData data;
    data.title = "qir-replay timing report";
    data.commandLine = options.commandLine;
    data.versions = std::string("qir-replay ") + QIR_REPLAY_VERSION + "\ncompiler " + __VERSION__;
    data.latenessNote = fifoEntries
        ? "Lateness: mean of the frames the embedded unit played in each 50 ms, measured against their "
          "timestamps (a frame plays with its last line). FIFO free entries: the unit's status as the player "
          "saw it. Send rate: frames the player handed to the unit client."
        : "Lateness: mean, over the frames the unit acknowledged in each 50 ms, of how long after its play time "
          "the unit's status acknowledged the frame's last line, read from the unit's clock in that status (a "
          "frame acknowledged before its time counts 0; the status period bounds the resolution, so a frame can "
          "read up to one period late). FIFO free entries: the unit's status as the player saw it; the unit's "
          "FIFO size, and so the sending threshold, is not known here. Send rate: frames the player handed to "
          "the unit client.";
    data.channels = collector.series();
    for (size_t i = 0; i < data.channels.size() && i < result.channels.size(); ++i) {
        const ChannelSummary& c = result.channels[i];
        ChannelSeries& s = data.channels[i];
        s.name = "channel " + std::to_string(c.channel) + (c.unitCount > 1 ? "@" + std::to_string(c.unit) : "");
        s.recording = c.recording;
        if (fifoEntries)
            s.fifoThreshold = kSendingThresholdShare * *fifoEntries;
        if (result.interrupted) {
            double end = 0.0;
            for (const auto* series : { &s.lateness, &s.fifoFree, &s.sendRate })
                end = series->empty() ? end : std::max(end, series->back().t);
            s.marks.push_back({ end, "interrupted" });
        }
    }
    data.summaryHeader = { "channel",     "recording",      "frames to send", "sent",
                           "complete",    "late max (ms)",  "late mean (ms)", "frames > 1 ms late",
                           "lowest free", "send time-outs", "loss flag" };
    for (size_t i = 0; i < result.channels.size(); ++i) {
        const ChannelSummary& c = result.channels[i];
        data.summaryRows.push_back({
            i < data.channels.size() ? data.channels[i].name : std::to_string(c.channel),
            c.recording,
            count(c.framesToSend),
            count(c.framesSent),
            c.emulated ? count(c.framesComplete) : "-",
            c.emulated && c.framesTimed > 0 ? milliseconds(c.lateMaxMs) : "-",
            c.emulated && c.framesTimed > 0 ? milliseconds(c.lateMeanMs) : "-",
            c.emulated && c.framesTimed > 0 ? count(c.framesLateOver1ms) : "-",
            c.statusSeen ? count(c.lowestFifoFree) : "-",
            count(c.sendTimeouts),
            c.lossFlagSeen ? "SET" : "clear",
        });
    }
    data.summaryRows.push_back(
        { "exit code", std::to_string(result.exitCode) + (result.interrupted ? " (interrupted)" : "") });
    try {
        file.write(timingReportHtml(data));
        file.commit();
        std::fprintf(out, "report: %s\n", file.path().c_str());
    } catch (const std::exception& error) {
        std::fprintf(err, "qir-replay: --report: %s\n", error.what());
        result.errors.push_back(std::string("--report: ") + error.what());
        if (result.exitCode == 0)
            result.exitCode = 1;
    }
}

} // namespace qir::replay
