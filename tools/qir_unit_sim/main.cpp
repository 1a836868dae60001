// qir-unit-sim: emulates a QIR unit on local addresses. See README.md.

#include "CommandLine.h"
#include "Fnv1a64.h"
#include "FrameDumper.h"
#include "LiveDisplay.h"
#include "Summary.h"
#include "UnitEmulator.h"

#include "OutputFile.h"
#include "StopSignals.h"

#include <nlohmann/json.hpp>

#include <cerrno>
#include <chrono>
#include <cinttypes>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <unistd.h>

using namespace vxqir::sim;

namespace {

using Clock = std::chrono::steady_clock;

constexpr int USAGE_ERROR = 2;

/// The ready file: written once the sockets are bound, removed when the
/// program ends (however it ends), so that a script never reads the ports
/// of a unit that is gone.
class ReadyFile {
public:
    ReadyFile() = default;
    ReadyFile(const ReadyFile&) = delete;
    ReadyFile& operator=(const ReadyFile&) = delete;
    ~ReadyFile()
    {
        if (!path_.empty())
            ::unlink(path_.c_str());
    }

    /// Checks the path and makes the temporary file; throws OutputFileError.
    void open(const std::string& path) { file_.emplace(path, "ready file"); }

    /// Writes `text` and puts the file in place (when one was opened).
    void publish(const std::string& text)
    {
        if (!file_)
            return;
        file_->write(text);
        file_->commit();
        path_ = file_->path();
    }

private:
    std::optional<qir::tools::OutputFile> file_;
    std::string path_;
};

std::string readyText(const UnitEmulator& unit)
{
    const EmulatorConfig& c = unit.config();
    return "control_ip=" + c.controlIp + "\ncontrol_port=" + std::to_string(unit.controlPort()) +
        "\ndata_ip=" + c.dataIp + "\ndata_base_port=" + std::to_string(unit.dataBasePort()) +
        "\nchannels=" + std::to_string(c.channels) + "\npid=" + std::to_string(::getpid()) + "\n";
}

/// The qir-replay command line that reaches this unit (its channel 0 and on).
std::string replayCommand(const UnitEmulator& unit)
{
    const EmulatorConfig& c = unit.config();
    return "qir-replay --unit " + c.controlIp + ":" + std::to_string(unit.controlPort()) + " --data " + c.dataIp + ":" +
        std::to_string(unit.dataBasePort()) + " RECORDING";
}

int run(const ProgramOptions& options)
{
    // With the summary on standard output, everything else goes to standard
    // error, so that the output is JSON and nothing else.
    std::FILE* const lines = options.summaryJson == "-" ? stderr : stdout;
    // The summary's path is checked (and its temporary file made) before the
    // session, not after it.
    std::optional<qir::tools::OutputFile> summaryFile;
    ReadyFile ready;
    EmulatorConfig config = options.config;
    try {
        if (!options.summaryJson.empty() && options.summaryJson != "-")
            summaryFile.emplace(options.summaryJson, "summary file");
        if (!options.readyFile.empty())
            ready.open(options.readyFile);
        if (!options.capture.empty())
            config.capture = std::make_shared<PacketCapture>(options.capture);
    } catch (const qir::tools::OutputFileError& e) {
        std::fprintf(stderr, "qir-unit-sim: %s\n", e.what());
        return USAGE_ERROR;
    }
    UnitEmulator unit(config);
    std::unique_ptr<FrameDumper> dumper;
    if (options.dump) {
        dumper = std::make_unique<FrameDumper>(*options.dump);
        unit.addFrameObserver([&dumper](const CompletedFrame& f, uint64_t checksum) { (*dumper)(f, checksum); });
    }
    if (options.printFrames) {
        unit.addFrameObserver([lines](const CompletedFrame& f, uint64_t checksum) {
            std::fprintf(lines, "frame channel=%u sequence=%" PRIu64 " number=%u lines=%u bytes=%zu checksum=%s\n",
                         static_cast<unsigned>(f.channel), f.sequence, static_cast<unsigned>(f.frameNumber),
                         static_cast<unsigned>(f.height), f.bytes.size(), vxqir::Fnv1a64::toHex(checksum).c_str());
            std::fflush(lines);
        });
    }

    unit.start();
    const auto started = Clock::now();
    ready.publish(readyText(unit));
    const EmulatorConfig& c = unit.config();
    if (unit.controlPortReplaced())
        std::fprintf(stderr, "qir-unit-sim: the unit's control port %s:%u is in use; took %u instead\n",
                     c.controlIp.c_str(), static_cast<unsigned>(c.controlPort),
                     static_cast<unsigned>(unit.controlPort()));
    if (unit.dataPortsReplaced())
        std::fprintf(
            stderr, "qir-unit-sim: the unit's data ports from %s:%u are in use; took the range from %u instead\n",
            c.dataIp.c_str(), static_cast<unsigned>(c.dataBasePort), static_cast<unsigned>(unit.dataBasePort()));
    std::fprintf(lines, "qir-unit-sim ready control=%s:%u data=%s:%u channels=%u\n", c.controlIp.c_str(),
                 static_cast<unsigned>(unit.controlPort()), c.dataIp.c_str(),
                 static_cast<unsigned>(unit.dataBasePort()), c.channels);
    std::fprintf(lines, "qir-unit-sim replay into it: %s\n", replayCommand(unit).c_str());
    std::fflush(lines);

    const bool live = options.live == LiveMode::On || (options.live == LiveMode::Auto && ::isatty(STDERR_FILENO));
    sigset_t signals;
    sigemptyset(&signals);
    for (int s : { SIGINT, SIGTERM, SIGUSR1, SIGUSR2 })
        sigaddset(&signals, s);

    EmulatorSnapshot previous = unit.counters();
    auto previousAt = Clock::now();
    const auto deadline =
        started + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(options.durationSeconds));
    for (;;) {
        auto wait = std::chrono::duration_cast<Clock::duration>(std::chrono::seconds(1)) - (Clock::now() - previousAt);
        if (options.durationSeconds > 0.0)
            wait = std::min(wait, deadline - Clock::now());
        wait = std::max(wait, Clock::duration::zero());
        const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(wait).count();
        const timespec timeout{ static_cast<time_t>(ns / 1'000'000'000), static_cast<long>(ns % 1'000'000'000) };
        const int sig = ::sigtimedwait(&signals, nullptr, &timeout);
        if (sig == SIGINT || sig == SIGTERM)
            break;
        if (sig == SIGUSR1) {
            unit.freezeAllFifos();
            std::fprintf(stderr, "qir-unit-sim: replay FIFOs frozen\n");
        } else if (sig == SIGUSR2) {
            unit.releaseAllFifos();
            std::fprintf(stderr, "qir-unit-sim: replay FIFOs released\n");
        }
        const auto now = Clock::now();
        if (options.durationSeconds > 0.0 && now >= deadline)
            break;
        if (now - previousAt >= std::chrono::seconds(1)) {
            EmulatorSnapshot current = unit.counters();
            if (live) {
                const double seconds = std::chrono::duration<double>(now - previousAt).count();
                std::fprintf(stderr, "\r%s\x1b[K", formatLiveLine(previous, current, seconds).c_str());
                std::fflush(stderr);
            }
            previous = std::move(current);
            previousAt = now;
        }
    }

    unit.stop();
    if (live)
        std::fputc('\n', stderr);
    if (config.capture) {
        config.capture->commit();
        std::fprintf(stderr, "qir-unit-sim: %" PRIu64 " datagrams captured in %s\n", config.capture->datagrams(),
                     config.capture->path().c_str());
    }
    const EmulatorSnapshot final = unit.snapshot();
    for (const ChannelSnapshot& ch : final.channels)
        std::fprintf(lines, "%s\n", verificationLine(ch).c_str());
    std::fflush(lines);

    if (!options.summaryJson.empty()) {
        SummaryContext context;
        context.controlIp = c.controlIp;
        context.controlPort = unit.controlPort();
        context.dataIp = c.dataIp;
        context.dataBasePort = unit.dataBasePort();
        context.playout = std::string(playoutKindName(c.channel.playout.kind));
        context.durationSeconds = std::chrono::duration<double>(Clock::now() - started).count();
        context.receiveBufferBytes = unit.receiveBufferBytes();
        if (dumper)
            context.dump = dumper->counters();
        const std::string text = makeSummary(final, context).dump(2) + "\n";
        if (summaryFile) {
            summaryFile->write(text);
            summaryFile->commit();
        } else {
            std::fputs(text.c_str(), stdout);
            std::fflush(stdout);
        }
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    const ParseResult parsed = parseCommandLine(argc, argv);
    if (!parsed.options) {
        std::fprintf(parsed.exitCode == 0 ? stdout : stderr, "%s\n", parsed.message.c_str());
        return parsed.exitCode;
    }

    // Block the signals before any thread starts, so that every thread
    // inherits the mask and only the main thread takes them, synchronously.
    sigset_t blocked;
    sigemptyset(&blocked);
    for (int s : { SIGINT, SIGTERM, SIGUSR1, SIGUSR2 })
        sigaddset(&blocked, s);
    pthread_sigmask(SIG_BLOCK, &blocked, nullptr);
    // Beyond the file size limit a write fails (and is reported) instead of
    // ending the program.
    qir::tools::ignore_file_size_signal();

    try {
        return run(*parsed.options);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "qir-unit-sim: %s\n", e.what());
        return 1;
    }
}
