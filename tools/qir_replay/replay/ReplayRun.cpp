#include "ReplayRun.h"

#include "Counted.h"
#include "EngineClock.h"
#include "Fnv1a64.h"
#include "EngineProperties.h"
#include "Graph.h"
#include "GraphFile.h"
#include "GraphRunner.h"
#include "HostKernel.h"
#include "KOVA.h"
#include "KOVAQirRecordingPlayer.h"
#include "ContinueSignal.h"
#include "KeyControls.h"
#include "OutputFile.h"
#include "PackageLibrary.h"
#include "CheckProgress.h"
#include "RateWindow.h"
#include "ReplayProgress.h"
#include "ReportLog.h"
#include "StopSignals.h"
#include "ReplayCapture.h"
#include "ReplayReport.h"
#include "SummaryJson.h"
#include "UnitEmulator.h"
#include "UnitLossResume.h"
#include "UnitTime.h"
#include "UsageChecks.h"
#include "VXQIRApi.h"
#include "VXQIRApiProgress.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <ctime>
#include <set>
#include <span>
#include <unistd.h>

namespace qir::replay {

namespace {

using Clock = std::chrono::steady_clock;

/// Checksums the embedded unit reported, per channel, in arrival order.
/// Digests (FrameDigest) of the frames the embedded unit received, per
/// channel in arrival order; matched against the recording's after the run.
struct ReceivedDigests {
    std::mutex mutex;
    std::vector<std::vector<uint64_t>> perChannel;
};

void writeFileAtomically(const std::string& path, const std::string& text, const std::vector<std::string>& inputs)
{
    qir::tools::OutputFile file(path, "output", inputs);
    file.write(text);
    file.commit();
}

/// Frames per pass of a recording: the frames picked by --from and --to,
/// at most --frames of them.
uint64_t framesPerPass(const ReplayOptions& options, const FrameRange& range)
{
    uint64_t perPass = range.end - range.first;
    if (options.frames > 0 && static_cast<uint64_t>(options.frames) < perPass)
        perPass = static_cast<uint64_t>(options.frames);
    return perPass;
}

/// Frames of a whole run: every pass, or kEndlessFrames (--loop 0).
uint64_t framesInRun(const ReplayOptions& options, const FrameRange& range)
{
    return options.loops == 0 ? kEndlessFrames : framesPerPass(options, range) * static_cast<uint64_t>(options.loops);
}

/// Whether the unit client of graph slot `slot` (unitN) reported an error
/// among `reports` from index `from` on (the reports of one run).
bool unitClientFailedIn(const std::vector<host::Report>& reports, size_t from, size_t slot)
{
    const std::string unit = "unit" + std::to_string(slot);
    for (size_t k = from; k < reports.size(); ++k)
        if (reports[k].source == unit && reports[k].level == KOVA::Error)
            return true;
    return false;
}

std::string secondsText(double seconds)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.1f s", seconds);
    return text;
}

} // namespace

ReplayResult runReplay(const ReplayOptions& options, std::FILE* out, std::FILE* err, PauseClock* pauses)
{
    ReplayResult result;
    result.options = options;
    result.mtu = options.mtu;
    auto fail = [&](int code, const std::string& text) {
        std::fprintf(err, "qir-replay: %s\n", text.c_str());
        result.errors.push_back(text);
        result.exitCode = code;
        return result;
    };

    if (const auto error = usageError(options))
        return fail(2, *error);
    // The summary's file is checked now (written at the end); "-" is
    // standard output.
    std::optional<qir::tools::OutputFile> summaryFile;
    if (!options.summaryJson.empty() && options.summaryJson != "-") {
        try {
            summaryFile.emplace(options.summaryJson, "summary file", options.recordings);
        } catch (const std::exception& error) {
            return fail(2, std::string("--summary-json: ") + error.what());
        }
    }

    // One recording per channel of a unit; the same channel on two units
    // is two channels.
    const bool embedded = options.units.empty();
    const size_t unitCount = embedded ? 1 : options.units.size();
    if (options.datas.size() != options.units.size())
        return fail(2,
                    std::to_string(options.units.size()) + " --unit but " + std::to_string(options.datas.size()) +
                        " --data: give one --data (the unit's data address) per --unit");
    std::set<std::pair<unsigned, unsigned>> taken;
    unsigned channelCount = 0;
    for (size_t i = 0; i < options.recordings.size(); ++i) {
        const unsigned channel = channelOf(options, i);
        const unsigned unitIndex = unitOf(options, i);
        const std::string where = std::to_string(channel) + (unitCount > 1 ? "@" + std::to_string(unitIndex) : "");
        if (channel > 255)
            return fail(2,
                        "channel " + std::to_string(channel) + " of " + options.recordings[i] +
                            ": a unit serves channels 0 to 255");
        if (unitIndex >= unitCount)
            return fail(2,
                        "unit " + std::to_string(unitIndex) + " of " + options.recordings[i] + " (--map ...=" +
                            std::to_string(channel) + "@" + std::to_string(unitIndex) + ") is not given: " +
                            (embedded ? std::string("without --unit there is only the embedded unit 0")
                                      : "--unit names units 0 to " + std::to_string(unitCount - 1)));
        if (!taken.insert({ unitIndex, channel }).second)
            return fail(2, "channel " + where + " is given twice (again for " + options.recordings[i] + ")");
        channelCount = std::max(channelCount, channel + 1);
    }

    // Every recording is read and checked before anything is sent.
    std::vector<Recording> recordings;
    std::vector<FrameRange> ranges;
    CheckProgress checking(out, options.quiet);
    try {
        for (const std::string& path : options.recordings) {
            OpenOptions open;
            open.format = options.format;
            open.rawPixels = options.rawPixels;
            open.keepGoing = options.keepGoing;
            open.video = options.video;
            open.interrupted = [] { return qir::tools::stop_requested(); };
            open.progress = [&checking](uint64_t done, uint64_t total) { checking.update(done, total); };
            checking.begin(path);
            recordings.push_back(Recording::open(path, open));
            checking.end();
            if (!recordings.back().damage().empty())
                std::fprintf(err, "qir-replay: warning: %s; replaying the %s before it\n",
                             recordings.back().damage().c_str(),
                             counted(recordings.back().frames().size(), "whole frame").c_str());
            if (const auto refusal = replayRefusal(options, recordings.back()))
                return fail(2, *refusal);
            ranges.push_back(selectFrames(options, recordings.back()));
        }
    } catch (const RecordingInterrupted& error) {
        checking.end();
        result.interrupted = true;
        return fail(qir::tools::kExitInterrupted, std::string(error.what()) + "; nothing was sent");
    } catch (const RecordingError& error) {
        checking.end();
        return fail(2, error.what());
    } catch (const std::invalid_argument& error) {
        return fail(2, error.what());
    }
    std::vector<const Recording*> pointers;
    for (const Recording& recording : recordings)
        pointers.push_back(&recording);

    if (!options.writeGraph.empty()) {
        std::vector<UnitAddress> addresses;
        if (embedded)
            addresses.push_back(
                { { kEmbeddedControlIp, kDefaultControlPort }, { kEmbeddedDataIp, kDefaultDataBasePort } });
        for (size_t u = 0; u < options.units.size(); ++u)
            addresses.push_back({ options.units[u], options.datas[u] });
        try {
            writeFileAtomically(options.writeGraph, replayGraphText(options, pointers, addresses, false, 0),
                                options.recordings);
        } catch (const std::exception& error) {
            return fail(2, std::string("--write-graph: ") + error.what());
        }
    }

    // The embedded unit: verifies every frame by its digest and reports the
    // checksum of the last one.
    std::unique_ptr<vxqir::sim::UnitEmulator> unit;
    auto received = std::make_shared<ReceivedDigests>();
    std::vector<UnitAddress> addresses;
    if (embedded) {
        vxqir::sim::EmulatorConfig config;
        config.controlIp = kEmbeddedControlIp;
        config.dataIp = kEmbeddedDataIp;
        config.channels = channelCount;
        config.checksumEveryFrame = true;
        config.socketReceiveBuffer = 32 << 20;
        // Lines leave the unit's FIFO at their recorded times, as on a real
        // unit, so the replay runs at the recording's cadence.
        config.channel.playout.kind = vxqir::sim::PlayoutKind::Timestamps;
        received->perChannel.resize(channelCount);
        try {
            if (!options.capture.empty())
                config.capture = std::make_shared<vxqir::sim::PacketCapture>(options.capture, options.recordings);
        } catch (const std::exception& error) {
            return fail(2, std::string("--capture: ") + error.what());
        }
        try {
            unit = std::make_unique<vxqir::sim::UnitEmulator>(config);
            unit->addDigestObserver([received](const vxqir::sim::CompletedFrame& frame, uint64_t digest) {
                std::lock_guard lock(received->mutex);
                if (frame.channel < received->perChannel.size())
                    received->perChannel[frame.channel].push_back(digest);
            });
            unit->start();
        } catch (const std::exception& error) {
            return fail(2,
                        std::string("embedded unit on ") + kEmbeddedControlIp + " / " + kEmbeddedDataIp + ": " +
                            error.what());
        }
        addresses.push_back({ { kEmbeddedControlIp, unit->controlPort() }, { kEmbeddedDataIp, unit->dataBasePort() } });
    } else {
        for (size_t u = 0; u < options.units.size(); ++u)
            addresses.push_back({ options.units[u], options.datas[u] });
    }
    const auto describe = [&](size_t u) {
        const UnitAddress& a = addresses[u];
        return "the unit at " + a.control.ip + ":" + std::to_string(a.control.port) + " (data " + a.data.ip + ":" +
            std::to_string(a.data.port) + ")";
    };
    // A channel of each unit for reading its clock: the first one replayed
    // on it, else 0.
    const auto probeChannel = [&](size_t u) {
        for (size_t i = 0; i < options.recordings.size(); ++i)
            if (unitOf(options, i) == u)
                return channelOf(options, i);
        return 0u;
    };

    // One start for every channel: the first player takes the unit's time
    // when it begins (from this measurement of the unit's clock against the
    // engine's), adds the lead and hands the start to the other players, so
    // that all channels start together at the unit and each frame plays at
    // its recorded time after the first.
    host::SystemEngineClock clock;
    std::string why;
    bool ptpSynced = true;
    const std::optional<int64_t> unitTime = readUnitTimeUs(addresses[0].control, addresses[0].data, probeChannel(0),
                                                           std::chrono::milliseconds(1000), why, &ptpSynced);
    const KOVATimestamp engineTime = clock.Now();
    if (!unitTime) {
        if (unit)
            unit->stop();
        return fail(1, describe(0) + " did not take the channel; nothing was sent (" + why + ")");
    }
    // The start is taken from unit 0's clock for every unit: without a
    // shared clock the channels of the other units start at other times.
    for (size_t u = 0; u < addresses.size() && addresses.size() > 1; ++u) {
        bool synced = u == 0 ? ptpSynced : true;
        if (u > 0 &&
            !readUnitTimeUs(addresses[u].control, addresses[u].data, probeChannel(u), std::chrono::milliseconds(1000),
                            why, &synced))
            return fail(1,
                        describe(u) + " (unit " + std::to_string(u) + ") did not take the channel; nothing was sent (" +
                            why + ")");
        if (!synced)
            std::fprintf(err,
                         "qir-replay: warning: unit %zu (%s:%u) says its clock is not synchronised by PTP; its "
                         "channels start at unit 0's time only if the units share a clock\n",
                         u, addresses[u].control.ip.c_str(), addresses[u].control.port);
    }
    // 0 stands for "not measured": an offset of exactly 0 becomes 1 us.
    const int64_t unitClockOffsetUs = *unitTime - engineTime == 0 ? 1 : *unitTime - engineTime;

    // The graph runs in-process on this program's own components.
    host::ReportLog log(options.verbose ? err : nullptr);
    host::EngineProperties engine;
    // A stopping unit client tries half of this to hand on the lines it
    // holds: short, so that a lost unit or a stall ends the run soon after
    // it is seen. Every frame of a delivered run is sent before its end.
    engine.Set("Engine.shutdownTimeout", int64_t{ 1'000'000 });
    host::HostKernel::Instance().Attach(&log, &clock, &engine);
    log.SetTimeOrigin(clock.Now());
    struct Detach {
        ~Detach() { host::HostKernel::Instance().Attach(nullptr, nullptr, nullptr); }
    } detach;

    // The graph of a run: every channel (and after a lost unit came back,
    // those not yet delivered) on this program's own components. Slot j of
    // the graph (playerJ, unitJ) replays recording inRun[j].
    std::unique_ptr<host::Graph> graph;
    std::optional<host::GraphDescription> description;
    std::vector<size_t> inRun;
    // Progress from the players, which run in-process: frames and bytes
    // handed on and the unit's status as they saw it, for any unit (null:
    // not in the current run).
    std::vector<KOVAQirRecordingPlayer*> players(recordings.size(), nullptr);
    const auto buildGraph = [&](const std::vector<size_t>& channels,
                                int64_t clockOffsetUs) -> std::optional<std::string> {
        ReplayOptions runOptions = options;
        std::vector<const Recording*> runRecordings;
        runOptions.recordings.clear();
        runOptions.channels.clear();
        runOptions.unitIndexes.clear();
        for (const size_t i : channels) {
            runOptions.recordings.push_back(options.recordings[i]);
            runOptions.channels.push_back(channelOf(options, i));
            runOptions.unitIndexes.push_back(unitOf(options, i));
            runRecordings.push_back(pointers[i]);
        }
        std::vector<std::string> errors;
        const std::string text = replayGraphText(runOptions, runRecordings, addresses, true, clockOffsetUs);
        description = host::ParseGraphText(text, "replay graph", errors);
        std::string packageWhy;
        auto package =
            host::PackageLibrary::InProcess("qir-replay", &KOVAPckInit, &KOVAGetModulesDefStruct, packageWhy);
        if (description && package) {
            std::vector<std::unique_ptr<host::PackageLibrary>> packages;
            packages.push_back(std::move(package));
            graph = host::Graph::Build(*description, std::move(packages), errors);
        }
        for (const auto& error : errors)
            std::fprintf(err, "qir-replay: %s\n", error.c_str());
        if (!graph)
            return "the replay graph was refused" + (packageWhy.empty() ? "" : ": " + packageWhy);
        inRun = channels;
        std::fill(players.begin(), players.end(), nullptr);
        for (size_t j = 0; j < channels.size(); ++j) {
            host::HostComponent* component = graph->Find("player" + std::to_string(j));
            players[channels[j]] = component ? dynamic_cast<KOVAQirRecordingPlayer*>(&component->Port()) : nullptr;
        }
        return std::nullopt;
    };
    std::vector<size_t> everyChannel(recordings.size());
    for (size_t i = 0; i < everyChannel.size(); ++i)
        everyChannel[i] = i;
    if (const auto refused = buildGraph(everyChannel, unitClockOffsetUs))
        return fail(1, *refused);
    // The end of each channel, from what its unit acknowledged: the players
    // stay after their last frame until their channel is delivered.
    WatchLimits limits;
    limits.unitTimeout = std::chrono::milliseconds(std::llround(options.unitTimeoutSeconds * 1000.0));
    limits.stallTimeout = std::chrono::milliseconds(std::llround(options.stallTimeoutSeconds * 1000.0));
    // Under --rate max the frames carry no times to meet.
    limits.timed = options.rate > 0;
    limits.maxLateUs = std::llround(options.maxLateMs.value_or(0.0) * 1000.0);
    std::vector<ChannelWatch> watches;
    // Each channel's replay time of frame `serial` (its n-th frame handed
    // on), from the first frame, in microseconds.
    std::vector<std::function<int64_t(uint64_t)>> replayTimeUs;
    for (size_t i = 0; i < recordings.size(); ++i) {
        // The frames of one pass: --frames of them from --from on.
        const uint64_t perPass = framesPerPass(options, ranges[i]);
        const std::span<const FrameEntry> selected =
            std::span<const FrameEntry>(recordings[i].frames()).subspan(ranges[i].first, perPass);
        const double fps = timingFps(options, recordings[i]);
        const double rate = options.rate;
        const auto frameTime = [selected, fps, rate, perPass](uint64_t serial) {
            return static_cast<int64_t>(KOVAQirRecordingPlayer::FrameTimeUs(
                selected, fps, rate, static_cast<size_t>(serial % perPass), serial / perPass));
        };
        // The frames after a pause play later by their shift.
        watches.emplace_back(
            framesInRun(options, ranges[i]),
            [frameTime, pauses, i](uint64_t serial) {
                return frameTime(serial) - frameTime(0) + (pauses ? pauses->shiftOf(i, serial) : 0);
            },
            limits);
        replayTimeUs.emplace_back([frameTime](uint64_t serial) { return frameTime(serial) - frameTime(0); });
    }
    // Components of the graph, to see one fail.
    std::vector<KOVAComponentPort*> ports;
    const auto holdPlayers = [&] {
        ports.clear();
        for (size_t j = 0; j < inRun.size(); ++j)
            for (const char* name : { "player", "converter", "unit" })
                if (host::HostComponent* component = graph->Find(name + std::to_string(j)))
                    ports.push_back(&component->Port());
        for (KOVAQirRecordingPlayer* player : players)
            if (player)
                player->HoldEndUntilReleased();
        for (const size_t i : inRun)
            if (pauses && players[i]) {
                pauses->beginRun(i);
                players[i]->UsePauseClock(pauses, i);
            }
    };
    holdPlayers();
    // What the runs before a lost unit's return did, per channel.
    std::vector<EarlierRuns> earlier(recordings.size());
    std::vector<Interruption> interruptions;
    std::vector<KOVAQirRecordingPlayer::Progress> lastCounts(recordings.size());
    std::vector<std::optional<double>> doneAt(recordings.size()); // seconds to each channel's last frame
    ProgressDisplay progress(out, options.quiet);
    const auto started = Clock::now();
    // The current rates: samples of every channel over a sliding window.
    std::vector<RateWindow> windows(recordings.size());
    std::vector<std::optional<double>> firstSentAt(recordings.size()); // seconds to each channel's first frame
    std::optional<double> lastSampleAt;
    const auto framesOf = [&](size_t i) { return framesInRun(options, ranges[i]); };
    // How far into its replay time channel i is, `seconds` after the start.
    const auto replayPosition = [&](size_t i, uint64_t frames, double seconds) {
        if (!firstSentAt[i])
            return 0.0;
        const double next = static_cast<double>(replayTimeUs[i](std::min(frames, framesOf(i)))) / 1e6;
        // Time paused does not move the replay on.
        const double paused = pauses ? static_cast<double>(pauses->pausedUs()) / 1e6 : 0.0;
        return frames >= framesOf(i) ? next : std::min(next, seconds - *firstSentAt[i] - paused);
    };
    std::vector<uint64_t> framesSeen(recordings.size(), 0);
    std::vector<double> lastFrameAt(recordings.size(), 0.0); // seconds to the latest frame handed on
    const auto sampleRates = [&] {
        const double seconds = std::chrono::duration<double>(Clock::now() - started).count();
        // The first and latest frame's times, at every poll.
        for (size_t i = 0; i < recordings.size(); ++i) {
            const uint64_t frames = players[i] ? players[i]->LiveProgress().framesHandedOn : framesSeen[i];
            if (!firstSentAt[i] && frames > 0)
                firstSentAt[i] = seconds;
            if (frames != framesSeen[i])
                lastFrameAt[i] = seconds;
            framesSeen[i] = frames;
            if (!doneAt[i] && frames >= framesOf(i))
                doneAt[i] = seconds;
        }
        if (lastSampleAt && seconds - *lastSampleAt < 0.1)
            return;
        lastSampleAt = seconds;
        for (size_t i = 0; i < recordings.size(); ++i) {
            const KOVAQirRecordingPlayer::Progress counts = players[i] ? players[i]->LiveProgress() : lastCounts[i];
            windows[i].add({ .seconds = seconds,
                             .frames = counts.framesHandedOn,
                             .bytes = counts.bytesHandedOn,
                             .replaySeconds = replayPosition(i, counts.framesHandedOn, seconds) });
        }
    };
    auto progressSnapshot = [&] {
        ProgressSnapshot snapshot;
        snapshot.elapsedSeconds = std::chrono::duration<double>(Clock::now() - started).count();
        const auto emulated = unit ? unit->counters() : vxqir::sim::EmulatorSnapshot{};
        for (size_t i = 0; i < recordings.size(); ++i) {
            if (players[i])
                lastCounts[i] = players[i]->LiveProgress();
            const KOVAQirRecordingPlayer::Progress& counts = lastCounts[i];
            ChannelProgress channel;
            channel.channel = channelOf(options, i);
            if (addresses.size() > 1)
                channel.unit = unitOf(options, i);
            channel.recording = recordings[i].path();
            channel.framesTotal = framesInRun(options, ranges[i]);
            channel.framesSent = counts.framesHandedOn;
            channel.bytesSent = counts.bytesHandedOn + earlier[i].bytesHandedOn;
            if (counts.statuses > 0) {
                channel.fifoFreeLatest = counts.latestFree;
                channel.fifoFreeLowest = counts.lowestFree;
            }
            channel.loss = counts.loss;
            if (!doneAt[i] && channel.framesSent >= channel.framesTotal)
                doneAt[i] = snapshot.elapsedSeconds;
            if (doneAt[i] && firstSentAt[i])
                channel.secondsToLastFrame = *doneAt[i] - *firstSentAt[i];
            channel.window.assign(windows[i].samples().begin(), windows[i].samples().end());
            if (options.rate > 0 && options.loops != 0)
                channel.replaySecondsTotal = static_cast<double>(replayTimeUs[i](channel.framesTotal)) / 1e6;
            if (options.rate > 0 && firstSentAt[i] && channel.framesSent > 0 &&
                channel.framesSent < channel.framesTotal)
                channel.secondsToNextFrame =
                    static_cast<double>(replayTimeUs[i](channel.framesSent) +
                                        (pauses ? pauses->shiftOf(i, channel.framesSent) : 0)) /
                        1e6 -
                    (snapshot.elapsedSeconds - *firstSentAt[i]);
            channel.paused = pauses && pauses->paused();
            if (unit && channel.channel < emulated.channels.size())
                channel.framesCompleteAtUnit = emulated.channels[channel.channel].frames.framesComplete;
            if (const auto& latest = watches[i].latest()) {
                channel.framesAcknowledged = latest->framesAcknowledged + earlier[i].framesAcknowledged;
                if (latest->statusCount > 0) {
                    channel.fifoFreeLatest = latest->status.freeFifoEntries;
                    channel.fifoFreeLowest = watches[i].lowestFree();
                }
            }
            channel.statusAgeSeconds = watches[i].statusAgeSeconds();
            if (watches[i].end() != ChannelEnd::Running)
                channel.end = watches[i].end() == ChannelEnd::Delivered ? "delivered" : "FAILED";
            snapshot.channels.push_back(std::move(channel));
        }
        return snapshot;
    };

    // Each poll reads every channel's counts from the library the unit
    // clients use (linked into this program), releases the player of a
    // delivered channel and ends the run at a lost unit, a stalled FIFO or a
    // failed component.
    std::vector<bool> released(recordings.size(), false);
    bool ending = false;
    // Units lost in this run, and the text saying so, when the replay is to
    // resume after them (--on-unit-loss resume; never the embedded unit,
    // which is this program).
    const bool resumeOnLoss = options.resumeOnUnitLoss && !unit;
    std::set<unsigned> lostInRun;
    std::string lossText;
    std::optional<std::chrono::system_clock::time_point> lostSince;
    Clock::time_point lostAt{};
    const auto endRun = [&](host::GraphRunner& runner, const std::string& cause) {
        if (!cause.empty()) {
            std::fprintf(err, "qir-replay: %s\n", cause.c_str());
            result.failures.push_back(cause);
        }
        ending = true;
        runner.RequestEnd();
    };
    const auto watchChannels = [&](host::GraphRunner& runner) {
        const auto now = Clock::now();
        std::set<unsigned> lostUnits;
        for (size_t i = 0; i < recordings.size(); ++i) {
            ChannelObservation observation;
            observation.now = now;
            observation.continues = continues();
            const Endpoint& control = addresses[unitOf(options, i)].control;
            VXTQirChannelProgressT counts{};
            if (VXQIR_GetChannelProgressAt(control.ip.c_str(), control.port,
                                           static_cast<VXTQirChannelNumber>(channelOf(options, i)), &counts) == NoError)
                observation.progress = counts;
            const KOVAQirRecordingPlayer::Progress played = players[i] ? players[i]->LiveProgress() : lastCounts[i];
            // The player counts the frames before the run's first as handed on.
            observation.framesHandedOn = played.framesHandedOn - std::min(played.framesHandedOn, earlier[i].resumedAt);
            if (played.startUs > 0 && played.startUs != KOVAQirRecordingPlayer::kProvisionalStartUs)
                observation.startUs = played.startUs;
            const ChannelEnd end = watches[i].observe(observation);
            if (end == ChannelEnd::Delivered && !released[i] && players[i]) {
                players[i]->ReleaseEnd();
                released[i] = true;
            }
            if (ending)
                continue;
            const std::string channelName = "unit " + control.ip + " channel " + std::to_string(channelOf(options, i));
            if (end == ChannelEnd::Lost)
                lostUnits.insert(unitOf(options, i));
            else if (end == ChannelEnd::Stalled)
                endRun(runner, channelName + ": FIFO not played for " + secondsText(options.stallTimeoutSeconds));
            else if (end == ChannelEnd::Short)
                endRun(runner,
                       channelName + ": the unit client sent " + std::to_string(watches[i].latest()->framesSent) +
                           " of " + std::to_string(framesInRun(options, ranges[i])) + " frames and nothing more for " +
                           secondsText(options.stallTimeoutSeconds));
        }
        // One line per lost unit, naming what each of its channels had
        // acknowledged.
        for (const unsigned u : lostUnits) {
            if (ending)
                break;
            std::string acknowledged;
            std::optional<std::chrono::system_clock::time_point> since;
            for (size_t i = 0; i < recordings.size(); ++i) {
                if (unitOf(options, i) != u)
                    continue;
                if (!since || watches[i].lastStatusAt() > *since)
                    since = watches[i].lastStatusAt();
                acknowledged += ", channel " + std::to_string(channelOf(options, i)) + " acknowledged frames up to " +
                    std::to_string((watches[i].latest() ? watches[i].latest()->framesAcknowledged : 0) +
                                   earlier[i].framesAcknowledged);
            }
            const std::string cause = "unit " + addresses[u].control.ip + ": no status for " +
                secondsText(options.unitTimeoutSeconds) + " (since " + clockText(*since) + ")" + acknowledged;
            if (resumeOnLoss) {
                // Every unit lost at this poll is waited for; the run ends.
                for (const unsigned lost : lostUnits)
                    lostInRun.insert(lost);
                lossText = cause;
                lostSince = since;
                lostAt = Clock::now();
                std::fprintf(err, "qir-replay: %s; waiting up to %s for it to answer again\n", cause.c_str(),
                             secondsText(options.resumeWithinSeconds).c_str());
                endRun(runner, "");
                break;
            }
            endRun(runner, cause);
        }
        if (!ending)
            for (KOVAComponentPort* port : ports)
                if ((port->EngineState() & KOVA::ErrorState) != 0) {
                    endRun(runner, "");
                    break;
                }
    };

    host::RunOptions run;
    run.until = description->until;
    // No cap: the run ends when every channel is delivered (its player
    // ends), or at a lost unit, a stall or a failure.
    run.durationUs = -1;
    // A player's Birth maps its recording; a grabber stream checked above
    // is indexed from its frame headers and a video file takes the index
    // decoded above (the Checked property), the other forms are read again:
    // seconds for a long record file.
    run.limits.birthLimitUs = 120'000'000;
    std::optional<TimingCollector> timing;
    std::optional<qir::tools::OutputFile> reportFile; // checked now, written at the end
    if (!options.report.empty()) {
        try {
            reportFile.emplace(options.report, "report file", options.recordings);
        } catch (const std::exception& error) {
            return fail(2, std::string("--report: ") + error.what());
        }
        timing.emplace(recordings.size(), kReportSamplePeriodSeconds);
    }
    std::vector<uint64_t> framesToSend;
    for (size_t i = 0; i < recordings.size(); ++i)
        framesToSend.push_back(framesInRun(options, ranges[i]));
    run.poll = [&](host::GraphRunner& runner) {
        if (qir::tools::stop_requested())
            runner.RequestEnd();
        watchChannels(runner);
        sampleRates();
        progress.update(progressSnapshot, false);
        const double seconds = std::chrono::duration<double>(Clock::now() - started).count();
        if (timing && timing->due(seconds))
            timing->add(seconds, sampleChannels(options, players, framesToSend, unit.get(), watches));
    };
    if (pauses) {
        std::fprintf(out, "%s\n", kKeysLine);
        std::fflush(out);
    }
    host::RunResult ran;
    const auto graphStarted = Clock::now();
    std::vector<bool> unitClientFailed(recordings.size(), false);
    const auto stopRequested = [] { return qir::tools::stop_requested(); };
    for (;;) {
        const size_t reportsBefore = log.Reports().size();
        {
            host::GraphRunner runner(*graph, run);
            ran = runner.Run();
        }
        for (size_t i = 0; i < players.size(); ++i) {
            if (players[i])
                lastCounts[i] = players[i]->LiveProgress();
            players[i] = nullptr; // the graph and its players go now
        }
        graph.reset(); // every component has died: channels are unregistered
        const std::vector<host::Report> reports = log.Reports();
        for (size_t j = 0; j < inRun.size(); ++j)
            unitClientFailed[inRun[j]] = unitClientFailedIn(reports, reportsBefore, j);
        if (lostInRun.empty() || ran.interrupted || qir::tools::stop_requested())
            break;

        // --on-unit-loss resume: wait for every lost unit to answer again.
        const auto deadline = lostAt + std::chrono::milliseconds(std::llround(options.resumeWithinSeconds * 1000.0));
        std::string lastTry;
        bool answered = true;
        for (const unsigned u : lostInRun)
            if (!awaitUnitAnswer(addresses[u], probeChannel(u), deadline, stopRequested, lastTry)) {
                answered = false;
                break;
            }
        if (qir::tools::stop_requested())
            break;
        if (!answered) {
            const double waited = std::chrono::duration<double>(Clock::now() - lostAt).count();
            const std::string cause = lossText + "; it did not answer again within " +
                secondsText(options.resumeWithinSeconds) + " (waited " + secondsText(waited) + "; " + lastTry + ")";
            std::fprintf(err, "qir-replay: %s\n", cause.c_str());
            result.failures.push_back(cause);
            break;
        }
        // A new start for every channel, from unit 0's clock as at the
        // beginning.
        const std::optional<int64_t> unitNow = readUnitTimeUs(addresses[0].control, addresses[0].data, probeChannel(0),
                                                              std::chrono::milliseconds(1000), why);
        const KOVATimestamp engineNow = clock.Now();
        if (!unitNow) {
            const std::string cause =
                lossText + "; it answered again, but " + describe(0) + " did not take the channel (" + why + ")";
            std::fprintf(err, "qir-replay: %s\n", cause.c_str());
            result.failures.push_back(cause);
            break;
        }
        Interruption interruption;
        interruption.began = *lostSince;
        interruption.seconds = std::chrono::duration<double>(std::chrono::system_clock::now() - *lostSince).count();
        for (const unsigned u : lostInRun)
            interruption.units.emplace_back(u,
                                            addresses[u].control.ip + ":" + std::to_string(addresses[u].control.port));
        // Every channel not delivered goes on from the first frame its
        // unit had not acknowledged; one whose frames were all
        // acknowledged has nothing to send again.
        std::vector<size_t> resumed;
        std::vector<int64_t> resumeTimesUs;
        for (size_t i = 0; i < recordings.size(); ++i) {
            const auto& latest = watches[i].latest();
            const uint64_t at = earlier[i].resumedAt + (latest ? latest->framesAcknowledged : 0);
            if (watches[i].end() == ChannelEnd::Delivered || at >= framesOf(i))
                continue;
            resumed.push_back(i);
            resumeTimesUs.push_back(replayTimeUs[i](at));
        }
        if (resumed.empty())
            break;
        const int64_t referenceUs = resumeReferenceUs(resumeTimesUs);
        for (const size_t i : resumed) {
            const auto latest = watches[i].latest();
            const uint64_t at = earlier[i].resumedAt + (latest ? latest->framesAcknowledged : 0);
            const uint64_t perPass = framesPerPass(options, ranges[i]);
            interruption.channels.push_back(
                { .channel = channelOf(options, i),
                  .unit = unitOf(options, i),
                  .resumedAt = at,
                  .recordingFrame = ranges[i].first + at % perPass,
                  .framesSentAgain = latest ? latest->framesSent - latest->framesAcknowledged : 0 });
            earlier[i].add(latest, watches[i], lastCounts[i].bytesHandedOn, lastCounts[i].statuses > 0,
                           lastCounts[i].lowestFree, lastCounts[i].loss);
            earlier[i].resumedAt = at;
            earlier[i].referenceUs = referenceUs;
            watches[i] = ChannelWatch(
                framesOf(i) - at,
                [timeUs = replayTimeUs[i], at, referenceUs, pauses, i](uint64_t k) {
                    return timeUs(at + k) - referenceUs + (pauses ? pauses->shiftOf(i, at + k) : 0);
                },
                limits);
            released[i] = false;
        }
        std::fprintf(err, "qir-replay: %s\n", interruptionText(interruption, addresses.size() > 1).c_str());
        interruptions.push_back(std::move(interruption));
        lostInRun.clear();
        ending = false;
        if (const auto refused = buildGraph(resumed, *unitNow - engineNow == 0 ? 1 : *unitNow - engineNow)) {
            std::fprintf(err, "qir-replay: %s\n", refused->c_str());
            result.failures.push_back(*refused);
            break;
        }
        for (const size_t i : resumed)
            if (players[i])
                players[i]->ResumeFrom(earlier[i].resumedAt, referenceUs);
        holdPlayers();
    }
    result.durationSeconds = std::chrono::duration<double>(Clock::now() - graphStarted).count();
    if (pauses) {
        result.pauses = pauses->pauses();
        result.pausedSeconds = static_cast<double>(pauses->pausedUs()) / 1e6;
    }
    result.interrupted = ran.interrupted || qir::tools::stop_requested();
    result.interruptions = interruptions;

    // The last datagrams may still wait at the unit's sockets.
    if (unit) {
        using namespace std::chrono_literals;
        uint64_t datagrams = ~uint64_t{ 0 };
        for (int quiet = 0, polls = 0; quiet < 2 && polls < 50; ++polls) {
            uint64_t now = 0;
            for (const auto& channel : unit->counters().channels)
                now += channel.datagrams;
            quiet = now == datagrams ? quiet + 1 : 0;
            datagrams = now;
            std::this_thread::sleep_for(50ms);
        }
        unit->drainChecksums();
        // Lines still wait in the unit's FIFO for their time: let them play
        // (bounded; Ctrl-C ends the wait).
        const auto playoutLimit = Clock::now() + std::chrono::seconds(30);
        while (!result.interrupted && !qir::tools::stop_requested() && Clock::now() < playoutLimit) {
            uint64_t waiting = 0;
            for (const auto& channel : unit->counters().channels)
                waiting += channel.framesAwaitingPlayout;
            if (waiting == 0)
                break;
            std::this_thread::sleep_for(20ms);
        }
        unit->stop();
    }
    progress.update(progressSnapshot, true);

    // The summary.
    bool allGood = ran.failed == 0 && ran.refused == 0 && ran.abandoned == 0;
    const auto snapshot = unit ? unit->snapshot() : vxqir::sim::EmulatorSnapshot{};
    for (size_t i = 0; i < recordings.size(); ++i) {
        const Recording& recording = recordings[i];
        const FrameRange& range = ranges[i];
        const uint64_t perPass = framesPerPass(options, range);
        ChannelSummary summary;
        summary.channel = channelOf(options, i);
        summary.unit = unitOf(options, i);
        summary.unitCount = addresses.size();
        summary.recording = recording.path();
        summary.format = std::string(formatName(recording.format()));
        summary.datagrams = recordingPlan(recording, options.mtu);
        summary.framesInRecording = recording.frames().size();
        summary.framesToSend = perPass * static_cast<uint64_t>(options.loops);
        summary.firstFrame = range.first;
        summary.endFrame = range.end;
        summary.unitClientFailed = unitClientFailed[i];
        const KOVAQirRecordingPlayer::Progress& counts = lastCounts[i];
        summary.framesHandedOn = counts.framesHandedOn;
        if (options.loops == 0)
            summary.framesToSend = counts.framesHandedOn; // endless: the run is what was sent
        summary.bytesHandedOn = counts.bytesHandedOn;
        summary.statusSeen = counts.statuses > 0;
        summary.lowestFifoFree = counts.lowestFree;
        summary.lossFlagSeen = counts.loss;
        if (recording.format() == RecordingFormat::Video)
            summary.framesNotDecodedInTime = counts.framesNotDecodedInTime;
        if (counts.startUs > 0 && counts.startUs != KOVAQirRecordingPlayer::kProvisionalStartUs)
            summary.replayStartUs = counts.startUs;
        const ChannelWatch& watch = watches[i];
        if (const auto& latest = watch.latest()) {
            summary.framesSent = latest->framesSent;
            summary.framesAcknowledged = latest->framesAcknowledged;
            summary.datagramsSent = latest->datagramsSent;
            summary.datagramsAcknowledged = latest->datagramsAcknowledged;
            summary.statusCount = latest->statusCount;
            summary.sendTimeouts = latest->sendTimeouts;
            summary.fifoEntries = latest->fifoEntries;
            summary.fifoFreeAtEnd = latest->status.freeFifoEntries;
            summary.lossFlagSeen = summary.lossFlagSeen || latest->status.loss != 0;
            if (latest->statusCount > 0 && !summary.statusSeen) {
                summary.statusSeen = true;
                summary.lowestFifoFree = watch.lowestFree().value_or(latest->status.freeFifoEntries);
            }
        }
        if (firstSentAt[i] && summary.framesHandedOn > 1 && lastFrameAt[i] > *firstSentAt[i]) {
            // Rates over the n - 1 frame periods between the first frame and the last.
            const double seconds = lastFrameAt[i] - *firstSentAt[i];
            const double periods = static_cast<double>(summary.framesHandedOn - 1);
            summary.sendingSeconds = seconds;
            summary.framesPerSecond = periods / seconds;
            summary.megabytesPerSecond = static_cast<double>(summary.bytesHandedOn) * periods /
                static_cast<double>(summary.framesHandedOn) / seconds / 1e6;
        }
        if (summary.framesHandedOn > 0 && recording.intact()) {
            summary.lastFrame = range.first + (summary.framesHandedOn - 1) % perPass;
            try {
                summary.lastFrameChecksum = recording.sentChecksum(static_cast<size_t>(*summary.lastFrame));
            } catch (const RecordingError&) {
                summary.lastFrameChecksum.reset();
            }
        }
        summary.end = watch.end();
        summary.stalls = watch.stalls();
        summary.lateness = watch.lateness();
        addEarlierRuns(summary, earlier[i]);
        summary.damage = recording.damage();
        if (!summary.damage.empty() && recording.format() != RecordingFormat::Images &&
            recording.format() != RecordingFormat::Jpeg && !recording.frames().empty()) {
            const FrameEntry& last = recording.frames().back();
            summary.damageOffset = last.offset + last.size;
            summary.bytesSkipped =
                recording.totalBytes() - std::min<uint64_t>(summary.damageOffset, recording.totalBytes());
            const double mean =
                static_cast<double>(summary.damageOffset) / static_cast<double>(recording.frames().size());
            summary.framesSkipped = std::max<uint64_t>(
                1, static_cast<uint64_t>(std::ceil(static_cast<double>(summary.bytesSkipped) / mean)));
        }
        const std::string name = "channel " + std::to_string(summary.channel) +
            (addresses.size() > 1 ? "@" + std::to_string(summary.unit) : "");
        std::vector<std::string> reasons;
        if (summary.end == ChannelEnd::Lost)
            reasons.push_back("the unit sent no status for " + secondsText(options.unitTimeoutSeconds));
        else if (summary.end == ChannelEnd::Stalled)
            reasons.push_back("the unit's FIFO was not played for " + secondsText(options.stallTimeoutSeconds));
        else if (summary.end != ChannelEnd::Delivered)
            reasons.push_back(std::to_string(summary.framesAcknowledged) + " of " +
                              std::to_string(summary.framesToSend) +
                              " frames acknowledged by the unit and played out of its FIFO");
        if (summary.framesHandedOn != summary.framesToSend && summary.end == ChannelEnd::Delivered)
            reasons.push_back(std::to_string(summary.framesHandedOn) + " of " + std::to_string(summary.framesToSend) +
                              " frames read");
        if (summary.unitClientFailed)
            reasons.push_back("the unit client failed");
        if (!summary.damage.empty() && !options.allowDamage)
            reasons.push_back(
                "the recording is damaged: only the " + counted(recording.frames().size(), "whole frame") +
                " before byte " + std::to_string(summary.damageOffset) +
                (recording.frames().size() == 1 ? " was" : " were") + " replayed (--allow-damage accepts that)");
        if (options.maxLateMs && summary.lateness.framesOverMax > 0)
            reasons.push_back(counted(summary.lateness.framesOverMax, "frame") + " reached the unit more than " +
                              std::to_string(std::llround(*options.maxLateMs)) + " ms after " +
                              (summary.lateness.framesOverMax == 1 ? "its" : "their") + " play time");
        if (summary.lossFlagSeen)
            reasons.push_back("the unit's loss flag was set");
        if (unit) {
            summary.emulated = true;
            const auto& channel = snapshot.channels.at(summary.channel);
            summary.framesComplete = channel.frames.framesComplete;
            summary.framesIncomplete = channel.frames.framesIncomplete;
            summary.bytesAtUnit = channel.bytes;
            summary.loss = channel.loss;
            summary.framesPlayed = channel.fifo.framesPlayed;
            summary.framesNotPlayed = channel.fifo.framesNotPlayed;
            summary.fifoOverflows = channel.fifo.overflows;
            summary.framesTimed = channel.fifo.framesTimed;
            summary.lateMaxMs = static_cast<double>(channel.fifo.lateMaxNs) / 1e6;
            summary.lateMeanMs = channel.fifo.framesTimed == 0
                ? 0.0
                : static_cast<double>(channel.fifo.lateSumNs) / 1e6 / static_cast<double>(channel.fifo.framesTimed);
            summary.framesLateOver1ms = channel.fifo.framesLateOver1ms;
            summary.firstFramePlayedNs = channel.fifo.firstFramePlayedNs;
            summary.lastFramePlayedNs = channel.fifo.lastFramePlayedNs;
            // Frame k at the unit is frame k of the replay: recording frame
            // first + k mod frames-per-pass.
            std::lock_guard lock(received->mutex);
            const auto& digests = received->perChannel[summary.channel];
            // A recording cut short during the replay has no checksums to
            // compare with (and its mapping must not be read).
            if (recording.intact()) {
                try {
                    // Each frame of the pass is hashed once, however many
                    // loops replayed it.
                    std::vector<std::optional<uint64_t>> expected(static_cast<size_t>(perPass));
                    if (expected.empty())
                        summary.checksumsMismatched = digests.size();
                    for (size_t k = 0; k < digests.size() && !expected.empty(); ++k) {
                        std::optional<uint64_t>& e = expected[k % expected.size()];
                        if (!e)
                            e = recording.sentSums(range.first + k % expected.size()).digest;
                        if (digests[k] == *e)
                            ++summary.checksumsMatched;
                        else
                            ++summary.checksumsMismatched;
                    }
                } catch (const RecordingError& error) {
                    reasons.push_back(error.what());
                }
            } else {
                reasons.push_back(recording.path() + " changed during the replay: its checksums cannot be compared");
            }
            if (options.maxLateMs && options.rate > 0 && summary.lateMaxMs > *options.maxLateMs &&
                summary.lateness.framesOverMax == 0)
                reasons.push_back("frames played up to " + std::to_string(std::llround(summary.lateMaxMs)) +
                                  " ms late at the embedded unit, more than " +
                                  std::to_string(std::llround(*options.maxLateMs)) + " ms");
            if (summary.framesComplete != summary.framesToSend || summary.framesIncomplete != 0 ||
                summary.checksumsMatched != summary.framesToSend || summary.framesPlayed != summary.framesToSend ||
                summary.fifoOverflows != 0)
                reasons.push_back(std::to_string(summary.checksumsMatched) + " of " +
                                  std::to_string(summary.framesToSend) + " complete with the recording's checksum, " +
                                  std::to_string(summary.framesPlayed) + " played, " +
                                  counted(summary.fifoOverflows, "FIFO overflow") + " at the embedded unit");
        }
        for (const std::string& reason : reasons) {
            summary.endText += (summary.endText.empty() ? "" : "; ") + reason;
            result.failures.push_back(name + ": " + reason);
        }
        if (!reasons.empty())
            allGood = false;
        result.channels.push_back(summary);
    }

    for (const ChannelSummary& c : result.channels) {
        const std::string where = c.unitCount > 1 ? "@" + std::to_string(c.unit) : "";
        std::fprintf(out,
                     "channel %u%s: %s (%s): %s read (%s), %llu of %llu sent, %llu acknowledged by "
                     "the unit%s%s",
                     c.channel, where.c_str(), c.recording.c_str(), c.format.c_str(),
                     counted(c.framesHandedOn, "frame").c_str(), counted(c.bytesHandedOn, "byte").c_str(),
                     static_cast<unsigned long long>(c.framesSent), static_cast<unsigned long long>(c.framesToSend),
                     static_cast<unsigned long long>(c.framesAcknowledged),
                     c.end == ChannelEnd::Delivered ? " and played out of its FIFO" : "",
                     c.unitClientFailed ? ", the unit client failed" : "");
        if (c.emulated)
            std::fprintf(
                out,
                "; at the unit %llu complete, %llu incomplete, %llu of %llu checksums match, %llu played, "
                "%llu not played, %s%s",
                static_cast<unsigned long long>(c.framesComplete), static_cast<unsigned long long>(c.framesIncomplete),
                static_cast<unsigned long long>(c.checksumsMatched), static_cast<unsigned long long>(c.framesToSend),
                static_cast<unsigned long long>(c.framesPlayed), static_cast<unsigned long long>(c.framesNotPlayed),
                counted(c.fifoOverflows, "FIFO overflow").c_str(), c.loss ? ", loss flag set" : "");
        std::fprintf(out, "\n");
        std::fprintf(out, "  %s", counted(c.sendTimeouts, "send time-out").c_str());
        if (c.statusSeen)
            std::fprintf(out, ", unit FIFO free at least %u of %u, loss flag %s", c.lowestFifoFree, c.fifoEntries,
                         c.lossFlagSeen ? "SET" : "clear");
        else
            std::fprintf(out, ", no unit status seen");
        // Under --rate max the frames carry no times to meet.
        if (c.emulated && c.framesTimed > 0 && options.rate > 0)
            std::fprintf(out, "; played late by at most %.3f ms (mean %.3f ms), %s more than 1 ms late", c.lateMaxMs,
                         c.lateMeanMs, counted(c.framesLateOver1ms, "frame").c_str());
        std::fprintf(out, "\n");
        if (options.rate > 0 && c.lateness.frames > 0)
            std::fprintf(out, "  %s reached the unit after %s play time (by up to %.1f ms)\n",
                         counted(c.lateness.frames, "frame").c_str(), c.lateness.frames == 1 ? "its" : "their",
                         static_cast<double>(c.lateness.maxUs) / 1000.0);
        if (c.sendingSeconds)
            std::fprintf(out, "  handed on in %.3f s from the first frame to the last: %.1f frames/s, %.1f MB/s\n",
                         *c.sendingSeconds, c.framesPerSecond.value_or(0.0), c.megabytesPerSecond.value_or(0.0));
        if (c.lastFrameChecksum)
            std::fprintf(out, "  last frame (recording frame %llu): a unit reports checksum=%s\n",
                         static_cast<unsigned long long>(*c.lastFrame),
                         vxqir::Fnv1a64::toHex(*c.lastFrameChecksum).c_str());
        if (!c.damage.empty())
            std::fprintf(out, "  damaged: %s; replayed the frames before byte %llu\n", c.damage.c_str(),
                         static_cast<unsigned long long>(c.damageOffset));
        for (const Stall& stall : c.stalls)
            std::fprintf(out, "  FIFO not played for %.1f s from %s\n", stall.seconds, clockText(stall.began).c_str());
        std::fprintf(out, "  %s\n", planText(c.datagrams, options.mtu).c_str());
    }
    for (const Interruption& interruption : result.interruptions)
        std::fprintf(out, "%s\n", interruptionText(interruption, addresses.size() > 1).c_str());
    if (result.pauses.value_or(0) > 0)
        std::fprintf(out, "paused %s for %.1f s in all (the frames after each pause played later by it)\n",
                     counted(*result.pauses, "time").c_str(), result.pausedSeconds.value_or(0.0));
    for (const host::Report& report : log.Reports()) {
        if (report.level == KOVA::Error)
            std::fprintf(err, "qir-replay: %s: %s\n", report.source.c_str(), report.text.c_str());
    }

    if (result.interrupted) {
        std::fprintf(out, "replay interrupted\n");
        result.verdict = "interrupted";
        result.exitCode = qir::tools::kExitInterrupted;
    } else if (allGood) {
        result.verdict = unit ? "every frame arrived complete with the recording's checksum"
                              : "delivered: every frame acknowledged by the unit and played out of its FIFO";
        std::fprintf(out, "verdict: %s\n", result.verdict.c_str());
        result.exitCode = 0;
    } else {
        std::string causes;
        for (const std::string& failure : result.failures)
            causes += (causes.empty() ? "" : "; ") + failure;
        if (causes.empty())
            causes = "a component failed (see its errors above)";
        result.verdict = "FAILED: " + causes;
        std::fprintf(out, "verdict: %s\n", result.verdict.c_str());
        result.exitCode = 1;
    }

    if (unit)
        commitCapture(*unit, out, err, result);
    if (timing)
        writeReplayReport(*reportFile, options, *timing,
                          unit ? std::optional<uint32_t>(unit->config().channel.fifoEntries) : std::nullopt, result,
                          out, err);
    if (options.summaryJson == "-") {
        std::fputs(summaryJsonText(result).c_str(), stdout);
        std::fflush(stdout);
    } else if (summaryFile) {
        try {
            summaryFile->write(summaryJsonText(result));
            summaryFile->commit();
        } catch (const std::exception& error) {
            std::fprintf(err, "qir-replay: --summary-json: %s\n", error.what());
            if (result.exitCode == 0)
                result.exitCode = 1;
        }
    }
    std::fflush(out);
    return result;
}

} // namespace qir::replay
