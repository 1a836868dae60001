// qir-replay into the embedded emulated unit, in one run:
//  1. a 1920 x 1080, 30 fps grabber recording replayed at its cadence: how
//     late the unit played its frames against their times (target: no frame
//     more than 1 ms late);
//  2. the same recording with --rate max, against the library's plain send
//     rate for the same datagrams (one VXQIR_ReplayStreamData call per
//     CSI-2 packet into an emulated unit set up alike; target: at least 0.9).
//
// Bounded: a fixed number of frames (--frames, default 90), every wait
// capped. Usage: bench_qir_replay [--frames N]
#include "Diagnostics.h"
#include "Recording.h"
#include "RecordingGenerator.h"
#include "ReplayRun.h"
#include "UnitEmulator.h"
#include "VXQIRApi.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

/// The embedded unit's settings as qir-replay makes them, playing on arrival.
vxqir::sim::EmulatorConfig unitLikeTheEmbeddedOne()
{
    vxqir::sim::EmulatorConfig config;
    config.controlIp = "127.0.0.2";
    config.dataIp = "127.0.0.3";
    config.checksumEveryFrame = true;
    config.socketReceiveBuffer = 32 << 20;
    return config;
}

/// Bytes per second the library alone sends the recording's CSI-2 packets
/// at (as the unit client cuts them: one block per packet), until the unit
/// has them all; 0 on failure.
double librarySendRate(const qir::replay::Recording& recording)
{
    const auto& info = recording.grabberInfo().at(0);
    const uint16_t lineBytes = static_cast<uint16_t>(info.lineBytes);
    const uint16_t lines = info.longPackets;
    vxqir::sim::UnitEmulator unit(unitLikeTheEmbeddedOne());
    unit.start();
    VXTQirInputInterfaceT config{};
    config.controlIP = "127.0.0.2";
    config.controlPort = unit.controlPort();
    config.dataIP = "127.0.0.3";
    config.dataBasePort = unit.dataBasePort();
    config.localIP = "127.0.0.1";
    config.maxPayloadSize = 8948; // the unit client's default
    config.timeoutGet_ms = 1000;
    config.timeoutStream_ms = 1000;
    VXTQirChannelHandle handle = -1;
    if (VXQIR_RegisterOutputChannel(&config, 0, &handle) != NoError ||
        VXQIR_InitOutputChannel(handle, lineBytes, lines) != NoError) {
        std::fprintf(stderr, "bench_qir_replay: the library could not set up the channel\n");
        return 0.0;
    }
    // The packets' bytes do not matter to the rate: one line of the first frame.
    std::vector<uint8_t> line(lineBytes, 0x5A);
    VXTQirPacketPropertiesT packet{};
    const size_t frames = recording.frames().size();
    const uint64_t total = static_cast<uint64_t>(frames) * lines * lineBytes;
    const auto began = Clock::now();
    for (size_t f = 0; f < frames; ++f) {
        packet.frameNumber = static_cast<uint16_t>(f);
        packet.timestamp = f;
        for (uint16_t l = 0; l < lines; ++l) {
            packet.lineNumber = l;
            if (VXQIR_ReplayStreamData(handle, &packet, line.data(), lineBytes) != NoError) {
                std::fprintf(stderr, "bench_qir_replay: VXQIR_ReplayStreamData failed\n");
                VXQIR_UnregisterOutputChannel(handle);
                return 0.0;
            }
        }
    }
    const bool all =
        unit.waitUntil([&](const auto& s) { return s.channels[0].bytes >= total; }, std::chrono::seconds(20));
    const double seconds = std::chrono::duration<double>(Clock::now() - began).count();
    VXQIR_UnregisterOutputChannel(handle);
    unit.stop();
    if (!all) {
        std::fprintf(stderr, "bench_qir_replay: the unit did not get every byte the library sent\n");
        return 0.0;
    }
    return static_cast<double>(total) / seconds;
}

} // namespace

int main(int argc, char** argv)
{
    uint32_t frames = 90;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--frames") == 0 && i + 1 < argc) {
            frames = static_cast<uint32_t>(std::strtoul(argv[++i], nullptr, 10));
        } else {
            std::printf("usage: bench_qir_replay [--frames N]  (N from 2 to 600, default 90)\n");
            return std::strcmp(argv[i], "-h") == 0 || std::strcmp(argv[i], "--help") == 0 ? 0 : 2;
        }
    }
    if (frames < 2 || frames > 600) {
        std::fprintf(stderr, "bench_qir_replay: --frames must be from 2 to 600\n");
        return 2;
    }

    // The library's diagnostic lines would only clutter the figures.
    vxqir::setDiagnosticSink([](vxqir::DiagnosticStream, std::string_view) {});

    char dirTemplate[] = "/tmp/bench_qir_replay.XXXXXX";
    if (::mkdtemp(dirTemplate) == nullptr) {
        std::perror("bench_qir_replay: mkdtemp");
        return 1;
    }
    const std::string dir = dirTemplate;
    const std::string path = dir + "/hd30.grab";
    qir::gen::GenSpec spec;
    spec.width = 1920;
    spec.height = 1080;
    spec.fps = 30.0;
    spec.frames = frames;
    qir::gen::generateRecording(spec, path, [] { return false; });
    const auto recording = qir::replay::Recording::open(path);
    std::FILE* quiet = std::fopen("/dev/null", "w");

    qir::replay::ReplayOptions options;
    options.recordings = { path };
    options.quiet = true;
    const qir::replay::ReplayResult cadence = qir::replay::runReplay(options, quiet, stderr);
    options.rate = 0.0;
    const auto maxStarted = Clock::now();
    const qir::replay::ReplayResult fastest = qir::replay::runReplay(options, quiet, stderr);
    const double maxWall = std::chrono::duration<double>(Clock::now() - maxStarted).count();
    const double library = librarySendRate(recording);
    std::fclose(quiet);
    std::filesystem::remove_all(dir);

    if (cadence.exitCode != 0 || fastest.exitCode != 0 || cadence.channels.empty() || fastest.channels.empty()) {
        std::fprintf(stderr, "bench_qir_replay: a replay failed (exit %d and %d)\n", cadence.exitCode,
                     fastest.exitCode);
        return 1;
    }
    const auto& c = cadence.channels[0];
    std::printf("1920x1080 grabber, 30 fps, %u frames of %.1f MB at their cadence:\n", frames,
                static_cast<double>(c.bytesHandedOn) / frames / 1e6);
    std::printf("  played late by at most %.3f ms (mean %.3f ms), %llu of %llu frames more than 1 ms late: %s\n",
                c.lateMaxMs, c.lateMeanMs, static_cast<unsigned long long>(c.framesLateOver1ms),
                static_cast<unsigned long long>(c.framesTimed), c.lateMaxMs <= 1.0 ? "within 1 ms" : "LATE");

    // Under --rate max every frame plays on arrival from the start on; the
    // frames after the first arrived between the first and the last play.
    const auto& m = fastest.channels[0];
    const double span = static_cast<double>(m.lastFramePlayedNs - m.firstFramePlayedNs) / 1e9;
    const double perFrame = static_cast<double>(m.bytesAtUnit) / static_cast<double>(m.framesComplete);
    const double replayRate = span > 0 ? perFrame * static_cast<double>(m.framesComplete - 1) / span : 0.0;
    std::printf("--rate max: %.1f MB/s into the unit (first to last frame played; whole run %.2f s)\n",
                replayRate / 1e6, maxWall);
    std::printf("library alone, same datagrams: %.1f MB/s\n", library / 1e6);
    const double ratio = library > 0 ? replayRate / library : 0.0;
    std::printf("ratio: %.2f (target at least 0.9)\n", ratio);
    return 0;
}
