#include "CommandLine.h"

#include <CLI/CLI.hpp>

#include <map>

namespace vxqir::sim {
namespace {

constexpr int USAGE_ERROR = 2;
// Longer runs are meant as "until stopped" (0); this keeps the deadline
// within the clock's range.
constexpr double MAX_DURATION_SECONDS = 1e9;

/// A number of seconds from 0 to MAX_DURATION_SECONDS. CLI11's own range
/// checks print the limits of a double in full (300 digits).
CLI::Validator durationSeconds()
{
    return CLI::Validator(
        [](std::string& text) -> std::string {
            double value = 0.0;
            if (!CLI::detail::lexical_cast(text, value))
                return "\"" + text + "\" is not a number of seconds";
            if (!(value >= 0.0 && value <= MAX_DURATION_SECONDS))
                return text + " is out of range: seconds from 0 (no limit) to 1000000000";
            return {};
        },
        "SECONDS", "duration");
}

/// A number above 0 and finite.
CLI::Validator positiveNumber()
{
    return CLI::Validator(
        [](std::string& text) -> std::string {
            double value = 0.0;
            if (!CLI::detail::lexical_cast(text, value))
                return "\"" + text + "\" is not a number";
            if (!(value > 0.0 && value < 1e12))
                return text + " is out of range: a number above 0 and below 1e12";
            return {};
        },
        "N", "positive");
}

struct RawOptions {
    std::string playout;
    double lineRate = 0.0;
    std::string pixelFormat;
    std::string dumpDir;
    uint64_t dumpMaxFrames = 1000;
    unsigned statusPeriodMs = 1;
    unsigned replyDelayMs = 0;
    unsigned statusDelayMs = 0;
    bool live = false;
    bool noLive = false;
};

void addOptions(CLI::App& app, ProgramOptions& o, RawOptions& raw)
{
    EmulatorConfig& c = o.config;
    app.add_option("--control-ip", c.controlIp, "Address of the unit's control socket")
        ->check(CLI::ValidIPV4)
        ->capture_default_str();
    app.add_option("--control-port", c.controlPort,
                   "Control port (0: the system picks one; see the ready line); default: the unit's 65024, or one "
                   "the system picks when that is in use");
    app.add_option("--data-ip", c.dataIp, "Address of the unit's data sockets")
        ->check(CLI::ValidIPV4)
        ->capture_default_str();
    app.add_option("--data-port", c.dataBasePort,
                   "Data port of channel 0; channel n uses base + n (0: a free range is picked); default: the unit's "
                   "61440, or a free range when a port of it is in use");
    app.add_option("--channels", c.channels, "Serve channels 0..N-1")->check(CLI::Range(1, 256))->capture_default_str();
    app.add_option("--fifo-entries", c.channel.fifoEntries, "Replay FIFO entries per channel (one per block)")
        ->check(CLI::Range(1u, 1u << 24))
        ->capture_default_str();
    app.add_option("--buffer-bytes", c.channel.bufferBytes, "Total buffer size reported by GET_BUFFER_SIZE")
        ->capture_default_str();
    app.add_option("--status-period-ms", raw.statusPeriodMs, "Period of the status messages")
        ->check(CLI::Range(1u, 60000u))
        ->capture_default_str();
    app.add_option("--duration", o.durationSeconds, "Stop after S seconds (0: run until SIGINT or SIGTERM)")
        ->check(durationSeconds())
        ->capture_default_str();
    app.add_option("--summary-json", o.summaryJson,
                   "Write the JSON summary to FILE at the end ('-': standard output, and every other line goes to "
                   "standard error; default: none)");
    app.add_option("--ready-file", o.readyFile,
                   "Write control_port=, data_base_port= ... to FILE once the sockets are bound; removed at the end "
                   "(default: none)");
    app.add_option("--capture", o.capture,
                   "Record every datagram received and sent (control, status, data) with its addresses into FILE, "
                   "written at the end (classic pcap format, which Wireshark and tshark read whatever the name; "
                   "slows the unit down at high data rates; default: none)");
    app.add_option("--playout", raw.playout, "How FIFO entries are played out: immediate, line-rate, timestamps")
        ->check(CLI::IsMember({ "immediate", "line-rate", "timestamps" }));
    app.add_option("--line-rate", raw.lineRate,
                   "Lines per second of the line-rate playout (implies --playout line-rate)")
        ->check(positiveNumber());
    app.add_flag("--ptp-synced", c.channel.ptpSynced, "Report the unit clock as PTP-synchronised");
    app.add_flag("--ptp-active", c.channel.ptpActive, "Report PTP as active");
    app.add_option("--receive-threads", c.receiveThreads, "Receive threads (0: one per channel, at most 4)")
        ->capture_default_str();
    app.add_option("--socket-buffer", c.socketReceiveBuffer, "Receive buffer of each data socket, bytes")
        ->check(CLI::Range(4096, 1 << 30))
        ->capture_default_str();
    app.add_option("--dump", raw.dumpDir, "Write each complete frame to DIR (raw bytes, and PNG with --pixel-format)");
    app.add_option("--pixel-format", raw.pixelFormat,
                   "Pixel layout of dumped PNGs: gray8, gray16 (little-endian), rgb8")
        ->check(CLI::IsMember({ "gray8", "gray16", "rgb8" }));
    app.add_option("--dump-max-frames", raw.dumpMaxFrames, "Dump at most N frames per channel")->capture_default_str();
    app.add_flag("--print-frames", o.printFrames, "Print one line per checksummed frame on standard output");
    app.add_flag("--checksum-every-frame", c.checksumEveryFrame,
                 "Never pass over a frame's checksum, even when the checksum thread falls behind");
    app.add_option("--drop-replies", c.replyFaults.dropShare, "Fault: share (0..1) of replies not sent")
        ->check(CLI::Range(0.0, 1.0));
    app.add_option("--reply-delay-ms", raw.replyDelayMs, "Fault: send every reply this much later");
    app.add_option("--status-delay-ms", raw.statusDelayMs,
                   "Fault: send every periodic status this much after it was taken (a lagging unit)")
        ->check(CLI::Range(0u, 60000u))
        ->capture_default_str();
    app.add_flag("--wrong-response-type", c.replyFaults.wrongResponseType,
                 "Fault: replies carry the response type of another command");
    app.add_flag("--stop-status", c.statusStopped, "Fault: send no periodic status messages");
    app.add_option("--unavailable-channel", c.unavailableChannels,
                   "Fault: answer this channel's requests with 'not available' (repeatable)");
    app.add_flag("--freeze-fifo", c.fifoFrozen,
                 "Fault: start with every replay FIFO frozen (SIGUSR1 freezes, SIGUSR2 releases)");
    app.add_option("--seed", c.seed, "Seed of the reply-drop decisions")->capture_default_str();
    auto* live = app.add_flag("--live", raw.live, "Show the live line on stderr even when it is not a terminal");
    app.add_flag("--no-live", raw.noLive, "Never show the live line")->excludes(live);
}

} // namespace

ParseResult parseCommandLine(int argc, const char* const* argv)
{
    CLI::App app("Emulates a QIR unit: answers the control protocol, sends periodic status and "
                 "verifies the sensor data it receives.",
                 "qir-unit-sim");
    ProgramOptions o;
    o.config.controlPort = UNIT_CONTROL_PORT;
    o.config.dataBasePort = UNIT_DATA_BASE_PORT;
    RawOptions raw;
    addOptions(app, o, raw);

    ParseResult result;
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        result.message = app.help();
        return result;
    } catch (const CLI::ParseError& e) {
        result.exitCode = USAGE_ERROR;
        result.message = std::string("qir-unit-sim: ") + e.what() + "\nRun with --help for the options.";
        return result;
    }

    auto refuse = [&](const std::string& what) {
        result.exitCode = USAGE_ERROR;
        result.message = "qir-unit-sim: " + what;
        return result;
    };
    EmulatorConfig& c = o.config;
    c.controlPortPreferred = app.count("--control-port") == 0;
    c.dataPortsPreferred = app.count("--data-port") == 0;
    c.statusPeriod = std::chrono::milliseconds(raw.statusPeriodMs);
    c.replyFaults.delay = std::chrono::milliseconds(raw.replyDelayMs);
    c.statusDelay = std::chrono::milliseconds(raw.statusDelayMs);
    if (raw.playout == "timestamps")
        c.channel.playout.kind = PlayoutKind::Timestamps;
    else if (raw.playout == "line-rate" || (raw.playout.empty() && raw.lineRate > 0.0))
        c.channel.playout.kind = PlayoutKind::LineRate;
    c.channel.playout.linesPerSecond = raw.lineRate;
    if (c.channel.playout.kind == PlayoutKind::LineRate && !(raw.lineRate > 0.0))
        return refuse("--playout line-rate needs --line-rate N (lines per second)");
    if (!raw.playout.empty() && raw.playout != "line-rate" && raw.lineRate > 0.0)
        return refuse("--line-rate applies only to --playout line-rate, not to " + raw.playout);
    for (unsigned ch : c.unavailableChannels) {
        if (ch >= c.channels)
            return refuse("--unavailable-channel " + std::to_string(ch) + ": only channels 0.." +
                          std::to_string(c.channels - 1) + " are served");
    }
    if (!o.summaryJson.empty() && o.summaryJson == o.readyFile)
        return refuse("--summary-json and --ready-file name the same file " + o.readyFile);
    if (!o.capture.empty() && (o.capture == o.summaryJson || o.capture == o.readyFile))
        return refuse("--capture names the same file as --summary-json or --ready-file: " + o.capture);
    if (!raw.pixelFormat.empty() && raw.dumpDir.empty())
        return refuse("--pixel-format needs --dump DIR");
    if (!raw.dumpDir.empty()) {
        DumpConfig dump;
        dump.directory = raw.dumpDir;
        dump.maxFramesPerChannel = raw.dumpMaxFrames;
        if (!raw.pixelFormat.empty())
            dump.pixelFormat = parsePixelFormat(raw.pixelFormat);
        o.dump = dump;
        // A person looking at frames wants every one of them.
        c.checksumEveryFrame = true;
    }
    o.live = raw.live ? LiveMode::On : raw.noLive ? LiveMode::Off : LiveMode::Auto;
    result.options = std::move(o);
    return result;
}

} // namespace vxqir::sim
