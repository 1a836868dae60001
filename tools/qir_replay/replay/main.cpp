// qir-replay: replays camera recordings into a QIR unit with one command,
// or checks them first ("qir-replay check").
#include "CheckCommand.h"
#include "ReplayRun.h"
#include "StopSignals.h"

#include <CLI/CLI.hpp>

#include <cstdio>
#include <string>
#include <unistd.h>

namespace {

using qir::replay::ReplayOptions;

/// Options shared by the replay and the check.
void addRecordingOptions(CLI::App& app, ReplayOptions& options, std::string& format, std::string& pixels)
{
    app.add_option("RECORDING", options.recordings,
                   "recording files, or directories of images; the i-th replays on unit channel i")
        ->required()
        ->check(CLI::ExistingPath);
    app.add_option("--format", format,
                   "recording format: grabber, raw, record, images (PNG/PGM/PPM) or jpeg (default: recognised by "
                   "content)")
        ->check(CLI::IsMember({ "grabber", "raw", "record", "images", "jpeg" }));
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
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        const int code = app.exit(error);
        return code == 0 ? 0 : 2;
    }
    applyRecordingOptions(options, format, pixels);
    return qir::replay::runCheck(options, stdout, stderr);
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
                  "Exit status: 0 every frame sent (and, emulated, arrived complete with the recording's checksum), "
                  "1 errors, 2 bad input or usage, 130 interrupted." };
    app.name("qir-replay");
    ReplayOptions options;
    std::string format;
    std::string pixels = "yuv422";
    std::string unit;
    std::string data;
    std::string rate = "1";
    addRecordingOptions(app, options, format, pixels);
    app.add_option("--unit", unit,
                   "unit control address CONTROL_IP[:PORT] (port default 65024); "
                   "default: the embedded emulated unit");
    app.add_option("--data", data,
                   "unit data address DATA_IP[:BASE_PORT] (base port default 61440); "
                   "needed with --unit");
    app.add_option("--rate", rate, "playout speed: a factor such as 0.5 or 2 (times are divided by it)")
        ->capture_default_str();
    app.add_option("--frames", options.frames, "frames of each recording to replay (0: all)")
        ->check(CLI::NonNegativeNumber)
        ->capture_default_str();
    app.add_option("--loop", options.loops, "passes through each recording")
        ->check(CLI::Range(int64_t{ 1 }, int64_t{ 1000000 }))
        ->capture_default_str();
    app.add_option("--start-delay", options.startDelayUs,
                   "microseconds the players wait before their first frame, while the unit client connects")
        ->check(CLI::Range(int64_t{ 0 }, int64_t{ 60'000'000 }))
        ->capture_default_str();
    app.add_flag("--keep-going", options.keepGoing,
                 "replay the whole frames before damage in a recording (a warning names the damage) instead of "
                 "refusing it");
    app.add_flag("--quiet", options.quiet, "no progress lines");
    app.add_flag("--verbose", options.verbose, "show every report of the components");
    app.add_option("--summary-json", options.summaryJson, "also write the summary as JSON to FILE");
    app.add_option("--write-graph", options.writeGraph,
                   "also write the equivalent graph file (for pck-host run or the engine) to FILE");
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        const int code = app.exit(error);
        return code == 0 ? 0 : 2;
    }
    applyRecordingOptions(options, format, pixels);
    try {
        size_t used = 0;
        options.rate = std::stod(rate, &used);
        if (used != rate.size() || !(options.rate >= 0.01) || options.rate > 1000)
            throw std::invalid_argument(rate);
    } catch (const std::exception&) {
        std::fprintf(stderr, "qir-replay: --rate %s: give a factor between 0.01 and 1000\n", rate.c_str());
        return 2;
    }
    try {
        if (!unit.empty())
            options.unit = qir::replay::parseEndpoint(unit, qir::replay::kDefaultControlPort);
        if (!data.empty())
            options.data = qir::replay::parseEndpoint(data, qir::replay::kDefaultDataBasePort);
    } catch (const std::invalid_argument& error) {
        std::fprintf(stderr, "qir-replay: %s\n", error.what());
        return 2;
    }
    if (options.data && !options.unit) {
        std::fprintf(stderr, "qir-replay: --data needs --unit\n");
        return 2;
    }
    qir::tools::install_stop_signals();

    // The unit client library prints its diagnostic lines (reachability,
    // bind results) on standard output; they are collected so that they do
    // not break the progress display, and shown with --verbose.
    std::fflush(stdout);
    const int userFd = ::dup(STDOUT_FILENO);
    std::FILE* userOut = userFd >= 0 ? ::fdopen(userFd, "w") : nullptr;
    std::FILE* collected = userOut != nullptr ? std::tmpfile() : nullptr;
    if (collected == nullptr || ::dup2(::fileno(collected), STDOUT_FILENO) < 0) {
        collected = nullptr;
        userOut = stdout;
    }
    const int code = qir::replay::runReplay(options, userOut, stderr).exitCode;
    std::fflush(userOut);
    if (collected != nullptr) {
        std::fflush(stdout);
        if (options.verbose) {
            std::rewind(collected);
            char line[1024];
            while (std::fgets(line, sizeof line, collected) != nullptr)
                std::fprintf(stderr, "library: %s", line);
        }
    }
    return code;
}
