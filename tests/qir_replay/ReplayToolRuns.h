// ReplayToolRuns.h - what the program tests of qir-gen, qir-replay and
// written graphs share: generating a recording, reading a summary, and
// running a written graph under pck-host into an emulated unit of the test.
// The including test target defines QIR_GEN_TOOL, QIR_REPLAY_TOOL,
// PCK_HOST_TOOL and QIR_PACKAGE_DIR.
#pragma once

#include "ToolRunner.h"
#include "UnitEmulator.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <mutex>
#include <string>
#include <vector>

namespace qir::replay::test {

inline nlohmann::json readJson(const std::string& path)
{
    return nlohmann::json::parse(qir::data_types::test::read_file(path));
}

/// qir-gen `args` -o `path`; a failed run fails the test (use under
/// ASSERT_NO_FATAL_FAILURE).
inline void generate(const std::vector<std::string>& args, const std::string& path,
                     const qir::data_types::test::TempDir& dir)
{
    std::vector<std::string> all = { QIR_GEN_TOOL };
    all.insert(all.end(), args.begin(), args.end());
    all.insert(all.end(), { "-o", path });
    const auto result = qir::data_types::test::run(all, dir);
    ASSERT_EQ(result.exit_code, 0) << result.start_error << result.err;
}

/// Runs the written `graph` with pck-host into an emulated unit on
/// 127.0.0.2/127.0.0.3 (channel 0 of unit0) and returns the checksums of
/// the frames that arrived, once `frames` are complete or 10 s have passed.
inline std::vector<uint64_t> checksumsOfWrittenGraph(const std::string& graph, size_t frames,
                                                     const qir::data_types::test::TempDir& dir)
{
    vxqir::sim::EmulatorConfig config;
    config.controlIp = "127.0.0.2";
    config.dataIp = "127.0.0.3";
    config.checksumEveryFrame = true;
    config.socketReceiveBuffer = 16 << 20;
    vxqir::sim::UnitEmulator unit(config);
    std::mutex mutex;
    std::vector<uint64_t> sums;
    unit.addFrameObserver([&](const vxqir::sim::CompletedFrame&, uint64_t checksum) {
        std::lock_guard lock(mutex);
        sums.push_back(checksum);
    });
    unit.start();
    const auto host =
        qir::data_types::test::run({ PCK_HOST_TOOL, "run", graph, "--package-dir", QIR_PACKAGE_DIR, "--quiet", "--set",
                                     "unit0.QirControlPort=" + std::to_string(unit.controlPort()), "--set",
                                     "unit0.SensorDataBasePort=" + std::to_string(unit.dataBasePort()) },
                                   dir);
    EXPECT_EQ(host.exit_code, 0) << host.out << host.err;
    // The graph is complete (no input warnings), and quiet means quiet: not
    // even the unit client library's own lines.
    EXPECT_EQ(host.err.find("warning"), std::string::npos) << host.err;
    EXPECT_EQ(host.out, "");
    unit.waitUntil([frames](const auto& s) { return s.channels[0].frames.framesComplete >= frames; },
                   std::chrono::seconds(10));
    unit.drainChecksums();
    unit.stop();
    std::lock_guard lock(mutex);
    return sums;
}

/// The command line of qir-replay replaying `recording` into the emulated
/// unit `unit` on loopback (control 127.0.0.2, data 127.0.0.3), quietly,
/// followed by `extra`.
inline std::vector<std::string> replayInto(const vxqir::sim::UnitEmulator& unit, const std::string& recording,
                                           const std::vector<std::string>& extra)
{
    std::vector<std::string> args = { QIR_REPLAY_TOOL,
                                      recording,
                                      "--quiet",
                                      "--unit",
                                      "127.0.0.2:" + std::to_string(unit.controlPort()),
                                      "--data",
                                      "127.0.0.3:" + std::to_string(unit.dataBasePort()) };
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
}

inline double secondsSince(std::chrono::steady_clock::time_point at)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - at).count();
}

} // namespace qir::replay::test
