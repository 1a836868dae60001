// qir-replay: replays camera recordings into a QIR unit with one command,
// or checks them first ("qir-replay check").
#include "CheckCommand.h"
#include "DatagramSize.h"
#include "ContinueSignal.h"
#include "KeyControls.h"
#include "PauseClock.h"
#include "Diagnostics.h"
#include "ReplayRun.h"
#include "StopSignals.h"
#include "UsageChecks.h"
#include "VideoOptions.h"

#include <CLI/CLI.hpp>

#include <cstdio>
#include <mutex>
#include <numeric>
#include <string>
#include <string_view>
#include <tuple>

#include <unistd.h>
#include <vector>

namespace {

using qir::replay::ReplayOptions;

/// The library's diagnostic lines of one run, the first kMax of them.
///
/// Thread-safe: lines come from the library's listener thread and from
/// the components' threads.
class LibraryLines {
public:
    void add(std::string_view line)
    {
        std::lock_guard lock(mutex_);
        if (lines_.size() < kMax)
            lines_.emplace_back(line);
        else
            ++dropped_;
    }

    void print(std::FILE* to)
    {
        std::lock_guard lock(mutex_);
        for (const std::string& line : lines_)
            std::fprintf(to, "library: %s\n", line.c_str());
        if (dropped_ > 0)
            std::fprintf(to, "library: ... and %zu more lines\n", dropped_);
    }

private:
    static constexpr size_t kMax = 10000;
    std::mutex mutex_; // guards lines_ and dropped_
    std::vector<std::string> lines_;
    size_t dropped_ = 0;
};

/// Options shared by the replay and the check.
void addRecordingOptions(CLI::App& app, ReplayOptions& options, std::string& format, std::string& pixels)
{
    app.add_option("RECORDING", options.recordings,
                   "recording files, or directories of images; the i-th replays on channel i of unit 0")
        ->check(CLI::ExistingPath);
    app.add_option("--format", format,
                   "recording format: grabber, raw, record, images (PNG/PGM/PPM), jpeg or video (a file FFmpeg "
                   "reads: MP4, MKV, MOV, AVI, ...; default: recognised by content)")
        ->check(CLI::IsMember({ "grabber", "raw", "record", "images", "jpeg", "video" }));
    qir::replay::addVideoOptions(app, options.video);
    app.add_option("--raw-pixels", pixels, "pixels of raw frames: yuv422 (two 16-bit words) or mono (one)")
        ->check(CLI::IsMember({ "yuv422", "mono" }))
        ->capture_default_str();
    app.add_option("--fps", options.fps,
                   "frame rate for the frames' times; 0: grabber streams, record files and images whose names carry "
                   "times use their recorded times, the others 30 frames per second")
        ->check(CLI::Range(0.0, 1e6))
        ->capture_default_str();
}

void applyRecordingOptions(ReplayOptions& options, const std::string& format, const std::string& pixels)
{
    if (!format.empty())
        options.format = qir::replay::parseFormatName(format);
    options.rawPixels = pixels == "mono" ? qir::replay::RawPixelFormat::Mono : qir::replay::RawPixelFormat::Yuv422;
}

int runCheckCommand(int argc, char** argv)
{
    CLI::App app{ "qir-replay check: reads recordings and reports frame count, duration, time stamps, geometry, "
                  "CSI-2 record checks and the data rate, without sending anything.\n"
                  "Exit status: 0 ready to replay, 1 doubtful findings, 2 a recording cannot be read or bad usage." };
    app.name("qir-replay check");
    ReplayOptions options;
    std::string format;
    std::string pixels = "yuv422";
    addRecordingOptions(app, options, format, pixels);
    app.add_flag("--keep-going", options.keepGoing,
                 "check on, as doubtful, past damage and past grabber frames whose packet length differs from the "
                 "first frame's (frames the unit client does not send), instead of refusing the recording");
    bool json = false;
    app.add_flag("--json", json,
                 "print the findings as one JSON document (per recording its fields, status ready, doubtful or "
                 "refused, and the lines of text) instead of text");
    app.get_option("RECORDING")->required();
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        const int code = app.exit(error);
        return code == 0 ? 0 : 2;
    }
    applyRecordingOptions(options, format, pixels);
    if (const auto error = qir::replay::usageError(options)) {
        std::fprintf(stderr, "qir-replay check: %s\n", error->c_str());
        return 2;
    }
    return qir::replay::runCheck(options, stdout, stderr, json);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc > 1 && std::string(argv[1]) == "check")
        return runCheckCommand(argc - 1, argv + 1);

    CLI::App app{ "qir-replay: replays camera recordings into a QIR unit through the player, image converter and unit "
                  "client components, and ends with a verdict.\n"
                  "Without --unit the frames go to an embedded emulated unit on 127.0.0.2 (control) / 127.0.0.3 (data) "
                  "that checks every frame against the recording.\n"
                  "Also: qir-replay check RECORDING... (pre-flight without sending; see qir-replay check --help).\n"
                  "Exit status: 0 delivered: every frame acknowledged by the unit and played out of its FIFO (and, "
                  "emulated, complete with the recording's checksum); 1 the unit or the network failed (unreachable, "
                  "lost, stalled, refused a channel) or the replay failed otherwise; 2 only bad input or usage; 130 "
                  "interrupted." };
    app.name("qir-replay");
    ReplayOptions options;
    std::string format;
    std::string pixels = "yuv422";
    std::vector<std::string> units;
    std::vector<std::string> datas;
    std::string rate = "1";
    std::vector<std::string> maps;
    std::string from;
    std::string to;
    addRecordingOptions(app, options, format, pixels);
    app.add_option("--map", maps,
                   "RECORDING=CHANNEL[@UNIT]: replay RECORDING (a file or an image directory) on channel CHANNEL (0 to "
                   "255) of unit UNIT (the index of its "
                   "--unit from 0; default 0); repeat it for several recordings and cameras in one run (after the "
                   "RECORDINGs, which take channels 0, 1, ... of unit 0); a channel given twice on one unit is "
                   "refused")
        ->allow_extra_args(false)
        ->check([](const std::string& text) {
            try {
                const auto map = qir::replay::parseChannelMap(text);
                return CLI::ExistingPath(map.file);
            } catch (const std::invalid_argument& error) {
                return std::string(error.what());
            }
        });
    app.add_option("--unit", units,
                   "unit control address CONTROL_IP[:PORT] (port default 65024); repeat it for channels on several "
                   "units (unit 0, 1, ... in order; every channel starts at one time taken from unit 0's clock, so "
                   "the units must share a clock through PTP); default: the embedded emulated unit")
        ->allow_extra_args(false);
    app.add_option("--data", datas,
                   "unit data address DATA_IP[:BASE_PORT] (base port default 61440); one per --unit, the i-th for "
                   "the i-th unit")
        ->allow_extra_args(false);
    app.add_option("--rate", rate,
                   "playout speed: a factor from 0.01 to 1000 such as 0.5 or 2 (times are divided by it), or max: as "
                   "fast as the unit's flow control allows (frame n is stamped first + n microseconds, so the "
                   "unit plays each frame as soon as it is in, from the start time on)")
        ->capture_default_str();
    app.add_option("--lead", options.leadSeconds,
                   "seconds between the unit's time before the first frame and the replay start shared by every "
                   "channel (above 0)")
        ->check(CLI::Range(0.001, 3600.0))
        ->capture_default_str();
    app.add_option("--from", from,
                   "first frame to replay: a time after the recording's first frame (1.5s, 250ms) or a frame index "
                   "(#10, from 0); default: the first frame");
    app.add_option("--to", to,
                   "replay the frames before this one: a time after the first frame (3s) or a frame index (#20); "
                   "default: to the end");
    app.add_option("--frames", options.frames, "frames of each recording to replay (0: all)")
        ->check(CLI::NonNegativeNumber)
        ->capture_default_str();
    app.add_option("--loop", options.loops,
                   "passes through each recording (0: endlessly, until Ctrl-C, which ends it with the summary "
                   "and exit 130)")
        ->check(CLI::Range(int64_t{ 0 }, int64_t{ 1000000 }))
        ->capture_default_str();
    app.add_option("--start-delay", options.startDelayUs,
                   "microseconds the players wait before their first frame (it comes out of the lead)")
        ->check(CLI::Range(int64_t{ 0 }, int64_t{ 60'000'000 }))
        ->capture_default_str();
    app.add_flag("--keep-going", options.keepGoing,
                 "replay the whole frames before damage in a recording (a warning names the damage) instead of "
                 "refusing it");
    app.add_option("--unit-timeout", options.unitTimeoutSeconds,
                   "seconds without a valid status from a unit that end the replay (the unit is lost; exit 1)")
        ->check(CLI::Range(0.05, 3600.0))
        ->capture_default_str();
    app.add_option("--stall-timeout", options.stallTimeoutSeconds,
                   "seconds a channel's FIFO may hold lines due to play without playing any before the replay ends "
                   "(stalled; exit 1); shorter stalls are reported in the summary")
        ->check(CLI::Range(0.1, 86400.0))
        ->capture_default_str();
    std::string onUnitLoss = "fail";
    app.add_option("--on-unit-loss", onUnitLoss,
                   "fail: a lost unit ends the replay (exit 1); resume: wait up to --resume-within for it to answer "
                   "again, set its channels up anew, read its clock again and go on with every channel from the "
                   "first frame the unit had not acknowledged, on a new shared start (each interruption is listed "
                   "in the summary)")
        ->check(CLI::IsMember({ "fail", "resume" }))
        ->capture_default_str();
    app.add_option("--resume-within", options.resumeWithinSeconds,
                   "with --on-unit-loss resume: seconds to wait for a lost unit to answer again before the replay "
                   "ends as with fail")
        ->capture_default_str();
    uint32_t mtu = 0;
    app.add_option("--mtu", mtu,
                   "1500, 9000 or any MTU in bytes (68-65535) of the link to the unit: each unit client's "
                   "MaxPayLoadSize becomes the largest within it that cuts every line into equal datagrams "
                   "(default: the unit client's 8948)")
        ->check(CLI::Range(qir::replay::kSmallestMtu, qir::replay::kLargestMtu));
    double maxLate = -1.0;
    app.add_option("--max-late", maxLate,
                   "milliseconds: frames that reach the unit (or, emulated, play) later than this after their play "
                   "time fail the run (default: late frames are only counted in the summary)")
        ->check(CLI::Range(0.0, 3.6e6));
    app.add_flag("--allow-damage", options.allowDamage,
                 "with --keep-going: a replay that skipped damaged frames may still pass (the damage stays in the "
                 "summary and JSON)");
    app.add_flag("--quiet", options.quiet, "no progress lines");
    bool noKeys = false;
    app.add_flag("--no-keys", noKeys,
                 "leave the terminal alone: no keys (otherwise, when standard input is the terminal, space pauses "
                 "the replay at a frame boundary and resumes it, the frames after a pause keeping their spacing at "
                 "the unit; s steps one frame while paused; q ends the replay as Ctrl-C does)");
    app.add_flag("--verbose", options.verbose,
                 "show every report of the components and, after the run, the unit client library's diagnostic lines "
                 "(otherwise collected and dropped)");
    app.add_option("--summary-json", options.summaryJson,
                   "also write the summary as JSON to FILE (checked before the replay; -: standard output, and the "
                   "progress and summary lines go to standard error)");
    app.add_option("--capture", options.capture,
                   "record every datagram the embedded unit receives and sends into FILE (classic pcap, for "
                   "Wireshark with tools/wireshark/qir.lua), written at the end");
    app.add_option("--report", options.report,
                   "write a timing report to FILE.html at the end: per channel lateness, FIFO free entries and send "
                   "rate over time, the summary, the command line (one self-contained HTML file)");
    app.add_option("--write-graph", options.writeGraph,
                   "also write the equivalent graph file (for pck-host run or the engine) to FILE");
    for (int i = 0; i < argc; ++i)
        options.commandLine += (i > 0 ? " " : "") + std::string(argv[i]);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        const int code = app.exit(error);
        return code == 0 ? 0 : 2;
    }
    applyRecordingOptions(options, format, pixels);
    if (maxLate >= 0.0)
        options.maxLateMs = maxLate;
    options.resumeOnUnitLoss = onUnitLoss == "resume";
    if (mtu > 0)
        options.mtu = mtu;
    options.channels.resize(options.recordings.size());
    std::iota(options.channels.begin(), options.channels.end(), 0u);
    for (const std::string& map : maps) {
        const qir::replay::ChannelMap parsed = qir::replay::parseChannelMap(map);
        options.recordings.push_back(parsed.file);
        options.channels.push_back(parsed.channel);
        options.unitIndexes.resize(options.channels.size() - 1, 0u);
        options.unitIndexes.push_back(parsed.unit);
    }
    if (options.recordings.empty()) {
        std::fprintf(stderr, "qir-replay: name a RECORDING or give --map FILE=CHANNEL (see --help)\n");
        return 2;
    }
    for (auto [name, text, bound] : { std::tuple{ "--from", &from, &options.from }, { "--to", &to, &options.to } }) {
        try {
            if (!text->empty())
                *bound = qir::replay::parseFrameBound(*text);
        } catch (const std::invalid_argument& error) {
            std::fprintf(stderr, "qir-replay: %s %s\n", name, error.what());
            return 2;
        }
    }
    try {
        size_t used = 0;
        options.rate = rate == "max" ? 0.0 : std::stod(rate, &used);
        if (rate != "max" && (used != rate.size() || !(options.rate >= 0.01) || options.rate > 1000))
            throw std::invalid_argument(rate);
    } catch (const std::exception&) {
        std::fprintf(stderr, "qir-replay: --rate %s: give a factor between 0.01 and 1000, or max\n", rate.c_str());
        return 2;
    }
    try {
        for (const std::string& unit : units)
            options.units.push_back(qir::replay::parseEndpoint(unit, qir::replay::kDefaultControlPort));
        for (const std::string& data : datas)
            options.datas.push_back(qir::replay::parseEndpoint(data, qir::replay::kDefaultDataBasePort));
    } catch (const std::invalid_argument& error) {
        std::fprintf(stderr, "qir-replay: %s\n", error.what());
        return 2;
    }
    if (units.empty() && !datas.empty()) {
        std::fprintf(stderr, "qir-replay: --data needs --unit\n");
        return 2;
    }
    if (!units.empty() && !options.capture.empty()) {
        std::fprintf(stderr,
                     "qir-replay: --capture records the embedded unit; with --unit capture on the network "
                     "(tcpdump, Wireshark)\n");
        return 2;
    }
    if (units.size() != datas.size()) {
        std::fprintf(stderr,
                     "qir-replay: %zu --unit but %zu --data: give one --data (the unit's data address) per --unit\n",
                     units.size(), datas.size());
        return 2;
    }
    qir::tools::install_stop_signals();
    // A replay stopped with Ctrl-Z (or SIGSTOP) and continued must not take
    // its own standstill for the unit's silence.
    qir::replay::countContinues();

    // The unit client library's diagnostic lines (reachability, bind
    // results, send errors) are collected so that they do not break the
    // progress display, and shown with --verbose after the run.
    LibraryLines library;
    vxqir::setDiagnosticSink([&library](vxqir::DiagnosticStream, std::string_view line) { library.add(line); });
    // With --summary-json - standard output carries the JSON alone.
    std::FILE* out = options.summaryJson == "-" ? stderr : stdout;
    // Keys only from a terminal this program has in the foreground; the
    // terminal is put back when they end, however the replay ends.
    qir::replay::PauseClock pauses;
    std::unique_ptr<qir::replay::KeyControls> keys =
        noKeys ? nullptr : qir::replay::KeyControls::take(STDIN_FILENO, pauses);
    const int code = qir::replay::runReplay(options, out, stderr, keys ? &pauses : nullptr).exitCode;
    keys.reset();
    vxqir::setDiagnosticSink({});
    std::fflush(stdout);
    if (options.verbose)
        library.print(stderr);
    return code;
}
