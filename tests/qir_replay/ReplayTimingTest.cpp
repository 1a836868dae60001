// qir-replay's timing as the embedded emulated unit sees it: channels that
// start together, frames played at their times scaled by --rate, --rate max,
// the frames --from and --to pick, --map and its errors, channels on two
// units started from one clock, and a written graph that finds its start
// time itself under pck-host.
#include "Recording.h"
#include "ReplayToolRuns.h"
#include "ToolRunner.h"
#include "UnitEmulator.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <cmath>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace {

using qir::data_types::test::run;
using qir::data_types::test::TempDir;
using qir::replay::test::generate;
using qir::replay::test::readJson;

constexpr double kMs = 1e6; // nanoseconds

/// Runs qir-replay with `args` (and --quiet --summary-json), expects exit 0
/// and returns the summary.
nlohmann::json replay(const std::vector<std::string>& args, const TempDir& dir)
{
    std::vector<std::string> all = { QIR_REPLAY_TOOL };
    all.insert(all.end(), args.begin(), args.end());
    all.insert(all.end(), { "--quiet", "--summary-json", dir.file("summary.json") });
    const auto result = run(all, dir);
    EXPECT_EQ(result.exit_code, 0) << result.out << result.err;
    return result.exit_code == 0 ? readJson(dir.file("summary.json")) : nlohmann::json::object();
}

uint64_t playedSpanNs(const nlohmann::json& channel)
{
    return channel["lastFramePlayedNs"].get<uint64_t>() - channel["firstFramePlayedNs"].get<uint64_t>();
}

TEST(ReplayTiming, ChannelsOfOneRunShareTheStartAndPlayTheirFirstFramesTogether)
{
    TempDir dir;
    ASSERT_NO_FATAL_FAILURE(generate({ "grabber", "--width", "160", "--height", "60", "--frames", "6", "--fps", "30" },
                                     dir.file("a.grab"), dir));
    ASSERT_NO_FATAL_FAILURE(
        generate({ "raw", "--width", "64", "--height", "32", "--frames", "4" }, dir.file("b.raw"), dir));
    // A generous lead: both first frames reach the unit before the start
    // even on a busy machine, so both play exactly at it.
    const nlohmann::json summary =
        replay({ "--map", dir.file("a.grab") + "=0", "--map", dir.file("b.raw") + "=2", "--lead", "3" }, dir);
    ASSERT_EQ(summary["channels"].size(), 2u);
    const auto& a = summary["channels"][0];
    const auto& b = summary["channels"][1];
    EXPECT_EQ(a["channel"], 0);
    EXPECT_EQ(b["channel"], 2);
    EXPECT_EQ(a["checksumsMatched"], 6);
    EXPECT_EQ(b["checksumsMatched"], 4);
    EXPECT_EQ(a["replayStartUs"], b["replayStartUs"]);
    const double apart = std::abs(static_cast<double>(a["firstFramePlayedNs"].get<uint64_t>()) -
                                  static_cast<double>(b["firstFramePlayedNs"].get<uint64_t>()));
    EXPECT_LE(apart, 1 * kMs) << "first frames played " << apart / kMs << " ms apart";
    // Each first frame played at the shared start, unless it came late.
    const double start = static_cast<double>(a["replayStartUs"].get<int64_t>()) * 1000.0;
    for (const auto* channel : { &a, &b })
        EXPECT_LE(static_cast<double>((*channel)["firstFramePlayedNs"].get<uint64_t>()) - start,
                  (*channel)["lateMaxMs"].get<double>() * kMs + 1)
            << *channel;
}

struct RateCase {
    std::string name;
    std::string rate;
    double factor;
};

void PrintTo(const RateCase& c, std::ostream* os)
{
    *os << c.name;
}

class ReplayRate : public ::testing::TestWithParam<RateCase> { };

TEST_P(ReplayRate, PlaysFramesAtTheirTimesDividedByTheRate)
{
    TempDir dir;
    // 9 frames at 30 per second: 266.7 ms from the first to the last.
    ASSERT_NO_FATAL_FAILURE(
        generate({ "grabber", "--width", "96", "--height", "40", "--frames", "9", "--fps", "30" }, dir.file("r"), dir));
    const nlohmann::json summary = replay({ dir.file("r"), "--rate", GetParam().rate }, dir);
    ASSERT_EQ(summary["channels"].size(), 1u);
    const auto& c = summary["channels"][0];
    EXPECT_EQ(c["framesPlayed"], 9);
    EXPECT_EQ(c["framesTimed"], 9);
    const double expected = 8.0 / 30.0 * 1000.0 / GetParam().factor * kMs;
    const double played = static_cast<double>(playedSpanNs(c));
    // Never before their times; after them by no more than the latest frame
    // was late (generous: a busy machine may make frames late).
    EXPECT_GE(played, expected - 0.01 * kMs);
    EXPECT_LE(played, expected + c["lateMaxMs"].get<double>() * kMs + 0.01 * kMs);
    EXPECT_LT(c["lateMaxMs"].get<double>(), 1000.0) << "frames came far too late to tell the rate";
}

INSTANTIATE_TEST_SUITE_P(Rates, ReplayRate,
                         ::testing::Values(RateCase{ "Double", "2", 2.0 }, RateCase{ "Half", "0.5", 0.5 }),
                         [](const auto& param) { return param.param.name; });

TEST(ReplayTiming, RateMaxDeliversAndPlaysEveryFrameCompleteOnEveryPass)
{
    TempDir dir;
    ASSERT_NO_FATAL_FAILURE(
        generate({ "raw", "--width", "320", "--height", "120", "--frames", "12" }, dir.file("fast.raw"), dir));
    const nlohmann::json summary = replay({ dir.file("fast.raw"), "--rate", "max", "--loop", "2" }, dir);
    ASSERT_EQ(summary["channels"].size(), 1u);
    const auto& c = summary["channels"][0];
    EXPECT_EQ(c["framesSent"], 24);
    EXPECT_EQ(c["framesComplete"], 24);
    EXPECT_EQ(c["checksumsMatched"], 24);
    EXPECT_EQ(c["framesPlayed"], 24);
    EXPECT_EQ(c["fifoOverflows"], 0);
}

struct RangeCase {
    std::string name;
    std::vector<std::string> genArgs;
    std::vector<std::string> rangeArgs;
    unsigned first;
    unsigned end;
};

void PrintTo(const RangeCase& c, std::ostream* os)
{
    *os << c.name;
}

class ReplayRange : public ::testing::TestWithParam<RangeCase> { };

TEST_P(ReplayRange, ReplaysExactlyThePickedFrames)
{
    TempDir dir;
    ASSERT_NO_FATAL_FAILURE(generate(GetParam().genArgs, dir.file("rec"), dir));
    std::vector<std::string> args = { dir.file("rec") };
    args.insert(args.end(), GetParam().rangeArgs.begin(), GetParam().rangeArgs.end());
    const nlohmann::json summary = replay(args, dir);
    ASSERT_EQ(summary["channels"].size(), 1u);
    const auto& c = summary["channels"][0];
    const unsigned count = GetParam().end - GetParam().first;
    EXPECT_EQ(c["firstFrame"], GetParam().first);
    EXPECT_EQ(c["endFrame"], GetParam().end);
    EXPECT_EQ(c["framesSent"], count);
    // The unit's checksums are compared with those of frames first, first + 1, ...
    EXPECT_EQ(c["checksumsMatched"], count);
    EXPECT_EQ(c["checksumsMismatched"], 0);
}

const std::vector<std::string> kTenGrabberFrames = { "grabber",  "--width", "64",    "--height", "16",
                                                     "--frames", "10",      "--fps", "20" };
const std::vector<std::string> kTenRawFrames = { "raw", "--width", "48", "--height", "8", "--frames", "10" };

INSTANTIATE_TEST_SUITE_P(
    Ranges, ReplayRange,
    ::testing::Values(RangeCase{ "FrameIndices", kTenGrabberFrames, { "--from", "#2", "--to", "#5" }, 2, 5 },
                      // 20 frames per second: 0.15 s is frame 3, 300ms frame 6.
                      RangeCase{ "RecordedTimes", kTenGrabberFrames, { "--from", "0.15s", "--to", "300ms" }, 3, 6 },
                      // Raw frames are timed at 30 per second: 0.1 s is frame 3.
                      RangeCase{ "FrameRateTimesFromOnly", kTenRawFrames, { "--from", "0.1s" }, 3, 10 },
                      RangeCase{ "ToOnlyWithFramesLimit", kTenRawFrames, { "--to", "#7", "--frames", "20" }, 0, 7 }),
    [](const auto& param) { return param.param.name; });

struct BadInputCase {
    std::string name;
    std::vector<std::string> args; ///< "REC" stands for a generated recording
    std::string message;           ///< part of the one error line
};

void PrintTo(const BadInputCase& c, std::ostream* os)
{
    *os << c.name;
}

class ReplayBadInput : public ::testing::TestWithParam<BadInputCase> { };

TEST_P(ReplayBadInput, IsRefusedWithExitTwoNamingTheCause)
{
    TempDir dir;
    ASSERT_NO_FATAL_FAILURE(generate(kTenRawFrames, dir.file("rec.raw"), dir));
    std::vector<std::string> args = { QIR_REPLAY_TOOL, "--quiet" };
    for (std::string arg : GetParam().args) {
        if (const size_t at = arg.find("REC"); at != std::string::npos)
            arg.replace(at, 3, dir.file("rec.raw"));
        args.push_back(arg);
    }
    const auto result = run(args, dir);
    EXPECT_EQ(result.exit_code, 2) << result.out << result.err;
    EXPECT_NE(result.err.find(GetParam().message), std::string::npos) << result.err;
    EXPECT_EQ(result.out.find("verdict"), std::string::npos) << "nothing may be replayed: " << result.out;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ReplayBadInput,
    ::testing::Values(
        BadInputCase{ "ChannelMappedTwice", { "--map", "REC=3", "--map", "REC=3" }, "channel 3 is given twice" },
        BadInputCase{ "PositionalAndMapOnOneChannel", { "REC", "--map", "REC=0" }, "channel 0 is given twice" },
        BadInputCase{ "MapWithoutChannel", { "--map", "REC" }, "give FILE=CHANNEL" },
        BadInputCase{ "ChannelBeyond255", { "--map", "REC=256" }, "channel from 0 to 255" },
        BadInputCase{ "MapOfAMissingFile", { "--map", "missing.bin=1" }, "missing.bin" },
        BadInputCase{ "NoRecordingAtAll", {}, "name a RECORDING or give --map" },
        BadInputCase{ "BoundWithoutUnit", { "REC", "--from", "12" }, "--from \"12\": give a time" },
        BadInputCase{ "NegativeTime", { "REC", "--to", "-1s" }, "--to \"-1s\"" },
        BadInputCase{ "RangeThatPicksNothing", { "REC", "--from", "#6", "--to", "#6" }, "pick none of its 10 frames" },
        BadInputCase{ "RangeBeyondTheEnd", { "REC", "--from", "5s" }, "pick none of its 10 frames" },
        BadInputCase{ "UnknownRateWord", { "REC", "--rate", "fast" }, "--rate fast" },
        BadInputCase{ "LeadOfZero", { "REC", "--lead", "0" }, "--lead" },
        // Channels on several units. The addresses are never reached: the
        // refusal comes before anything is sent.
        BadInputCase{ "UnitIndexWithoutAnyUnit", { "--map", "REC=0@1" }, "unit 1 of" },
        BadInputCase{ "UnitIndexBeyondTheUnitsGiven",
                      { "--unit", "127.0.0.2", "--data", "127.0.0.3", "--map", "REC=0@1" },
                      "--unit names units 0 to 0" },
        BadInputCase{ "UnitIndexThatIsNoNumber", { "--map", "REC=0@x" }, "FILE=CHANNEL@UNIT" },
        BadInputCase{ "UnitWithoutData", { "REC", "--unit", "127.0.0.2" }, "1 --unit but 0 --data" },
        BadInputCase{ "DataWithoutUnit", { "REC", "--data", "127.0.0.3" }, "--data needs --unit" },
        BadInputCase{ "MoreUnitsThanData",
                      { "REC", "--unit", "127.0.0.2", "--data", "127.0.0.3", "--unit", "127.0.0.4" },
                      "2 --unit but 1 --data" },
        BadInputCase{ "ChannelTwiceOnOneOfTwoUnits",
                      { "--unit", "127.0.0.2", "--data", "127.0.0.3", "--unit", "127.0.0.4", "--data", "127.0.0.5",
                        "--map", "REC=2@1", "--map", "REC=2@1" },
                      "channel 2@1 is given twice" }),
    [](const auto& param) { return param.param.name; });

TEST(ReplayTiming, AWrittenGraphStartsEveryChannelAtOneUnitTimeUnderPckHost)
{
    TempDir dir;
    ASSERT_NO_FATAL_FAILURE(generate({ "grabber", "--width", "64", "--height", "20", "--frames", "5", "--fps", "25" },
                                     dir.file("a.grab"), dir));
    ASSERT_NO_FATAL_FAILURE(
        generate({ "raw", "--width", "40", "--height", "10", "--frames", "1" }, dir.file("b.raw"), dir));
    const std::string graph = dir.file("replay.toml");
    const auto written = run({ QIR_REPLAY_TOOL, "--quiet", "--map", dir.file("a.grab") + "=0", "--map",
                               dir.file("b.raw") + "=1", "--lead", "2", "--write-graph", graph },
                             dir);
    ASSERT_EQ(written.exit_code, 0) << written.out << written.err;

    vxqir::sim::EmulatorConfig config;
    config.controlIp = "127.0.0.2";
    config.dataIp = "127.0.0.3";
    config.channels = 2;
    config.checksumEveryFrame = true;
    config.socketReceiveBuffer = 16 << 20;
    config.channel.playout.kind = vxqir::sim::PlayoutKind::Timestamps;
    vxqir::sim::UnitEmulator unit(config);
    std::mutex mutex;
    std::vector<std::vector<uint64_t>> sums(2);
    unit.addFrameObserver([&](const vxqir::sim::CompletedFrame& frame, uint64_t checksum) {
        std::lock_guard lock(mutex);
        sums.at(frame.channel).push_back(checksum);
    });
    unit.start();
    const std::string port = std::to_string(unit.controlPort());
    const std::string dataPort = std::to_string(unit.dataBasePort());
    const auto host = run({ PCK_HOST_TOOL, "run", graph, "--package-dir", QIR_PACKAGE_DIR, "--quiet", "--set",
                            "unit0.QirControlPort=" + port, "--set", "unit0.SensorDataBasePort=" + dataPort, "--set",
                            "unit1.QirControlPort=" + port, "--set", "unit1.SensorDataBasePort=" + dataPort },
                          dir);
    EXPECT_EQ(host.exit_code, 0) << host.out << host.err;
    unit.drainChecksums();
    const auto snapshot = unit.snapshot();
    unit.stop();

    const auto& a = snapshot.channels.at(0);
    const auto& b = snapshot.channels.at(1);
    EXPECT_EQ(a.fifo.framesPlayed, 5u);
    EXPECT_EQ(b.fifo.framesPlayed, 1u) << "a one-frame channel still learns the start";
    EXPECT_NE(a.times.startNs, 0u);
    EXPECT_EQ(a.times.startNs, b.times.startNs) << "one start time for both channels";
    const double apart =
        std::abs(static_cast<double>(a.fifo.firstFramePlayedNs) - static_cast<double>(b.fifo.firstFramePlayedNs));
    EXPECT_LE(apart, 1 * kMs) << "first frames played " << apart / kMs << " ms apart";
    const auto recA = qir::replay::Recording::open(dir.file("a.grab"));
    const auto recB = qir::replay::Recording::open(dir.file("b.raw"));
    std::lock_guard lock(mutex);
    ASSERT_EQ(sums[0].size(), 5u) << "the first frame, sent before the start time was known, came once";
    ASSERT_EQ(sums[1].size(), 1u);
    for (size_t f = 0; f < 5; ++f)
        EXPECT_EQ(sums[0][f], recA.sentChecksum(f)) << "frame " << f;
    EXPECT_EQ(sums[1][0], recB.sentChecksum(0));
}

TEST(ReplayTiming, ChannelsOnTwoUnitsArriveCompleteAtEachAndStartAtOneTime)
{
    TempDir dir;
    ASSERT_NO_FATAL_FAILURE(generate({ "grabber", "--width", "96", "--height", "30", "--frames", "6", "--fps", "30" },
                                     dir.file("a.grab"), dir));
    ASSERT_NO_FATAL_FAILURE(
        generate({ "raw", "--width", "40", "--height", "12", "--frames", "4" }, dir.file("b.raw"), dir));

    struct Unit {
        std::unique_ptr<vxqir::sim::UnitEmulator> emulator;
        std::mutex mutex;
        std::vector<uint64_t> sums; // channel 0
    };
    Unit units[2];
    const char* addresses[2][2] = { { "127.0.0.2", "127.0.0.3" }, { "127.0.0.4", "127.0.0.5" } };
    std::vector<std::string> args = { QIR_REPLAY_TOOL,          "--quiet",       "--summary-json",
                                      dir.file("summary.json"), "--write-graph", dir.file("graph.toml") };
    for (int u = 0; u < 2; ++u) {
        vxqir::sim::EmulatorConfig config;
        config.controlIp = addresses[u][0];
        config.dataIp = addresses[u][1];
        config.channels = 1;
        config.checksumEveryFrame = true;
        config.socketReceiveBuffer = 16 << 20;
        config.channel.playout.kind = vxqir::sim::PlayoutKind::Timestamps;
        config.channel.ptpSynced = u == 0; // the second unit is not synchronised: a warning
        units[u].emulator = std::make_unique<vxqir::sim::UnitEmulator>(config);
        Unit& unit = units[u];
        unit.emulator->addFrameObserver([&unit](const vxqir::sim::CompletedFrame& frame, uint64_t checksum) {
            std::lock_guard lock(unit.mutex);
            if (frame.channel == 0)
                unit.sums.push_back(checksum);
        });
        unit.emulator->start();
        args.insert(args.end(),
                    { "--unit", std::string(addresses[u][0]) + ":" + std::to_string(unit.emulator->controlPort()),
                      "--data", std::string(addresses[u][1]) + ":" + std::to_string(unit.emulator->dataBasePort()) });
    }
    // Channel 0 on both units: one channel per unit, not the same one twice.
    args.insert(args.end(), { "--map", dir.file("a.grab") + "=0", "--map", dir.file("b.raw") + "=0@1" });
    const auto result = run(args, dir);
    std::vector<vxqir::sim::EmulatorSnapshot> snapshots;
    for (Unit& unit : units) {
        unit.emulator->drainChecksums();
        // Frames still in a FIFO play at their time (bounded wait).
        unit.emulator->waitUntil([](const auto& s) { return s.channels.at(0).framesAwaitingPlayout == 0; },
                                 std::chrono::milliseconds(10000));
        snapshots.push_back(unit.emulator->snapshot());
        unit.emulator->stop();
    }
    ASSERT_EQ(result.exit_code, 0) << result.out << result.err;

    EXPECT_EQ(result.err.find("warning: unit 0 "), std::string::npos) << result.err;
    const size_t warned = result.err.find("warning: unit 1 (127.0.0.4:");
    EXPECT_NE(warned, std::string::npos) << result.err;
    EXPECT_EQ(result.err.find("warning: unit 1 ", warned + 1), std::string::npos) << "warned once: " << result.err;

    const char* files[2] = { "a.grab", "b.raw" };
    const size_t frames[2] = { 6, 4 };
    for (int u = 0; u < 2; ++u) {
        const auto recording = qir::replay::Recording::open(dir.file(files[u]));
        std::lock_guard lock(units[u].mutex);
        ASSERT_EQ(units[u].sums.size(), frames[u]) << "unit " << u;
        for (size_t f = 0; f < frames[u]; ++f)
            EXPECT_EQ(units[u].sums[f], recording.sentChecksum(f)) << "unit " << u << ", frame " << f;
        EXPECT_EQ(snapshots[u].channels.at(0).fifo.framesPlayed, frames[u]) << "unit " << u;
    }
    EXPECT_NE(snapshots[0].channels.at(0).times.startNs, 0u);
    EXPECT_EQ(snapshots[0].channels.at(0).times.startNs, snapshots[1].channels.at(0).times.startNs)
        << "one start for both units, from unit 0's clock";

    const nlohmann::json summary = readJson(dir.file("summary.json"));
    ASSERT_EQ(summary["channels"].size(), 2u);
    EXPECT_EQ(summary["channels"][0]["unit"], 0);
    EXPECT_EQ(summary["channels"][1]["unit"], 1);
    EXPECT_NE(result.out.find("channel 0@1: "), std::string::npos) << result.out;

    // The written graph gives each unit client its own unit's addresses.
    const std::string graph = qir::data_types::test::read_file(dir.file("graph.toml"));
    const auto unitClient = [&](const std::string& name) {
        const size_t at = graph.find("name = \"" + name + "\"");
        return at == std::string::npos ? std::string()
                                       : graph.substr(at, graph.find('\n', graph.find("properties", at)) - at);
    };
    for (int u = 0; u < 2; ++u) {
        const std::string client = unitClient("unit" + std::to_string(u));
        EXPECT_NE(client.find("QirControlIP = \"" + std::string(addresses[u][0]) + "\""), std::string::npos) << client;
        EXPECT_NE(client.find("QirControlPort = " + std::to_string(units[u].emulator->controlPort())),
                  std::string::npos)
            << client;
        EXPECT_NE(client.find("SensorDataIP = \"" + std::string(addresses[u][1]) + "\""), std::string::npos) << client;
        EXPECT_NE(client.find("SensorDataBasePort = " + std::to_string(units[u].emulator->dataBasePort())),
                  std::string::npos)
            << client;
    }
}

TEST(ReplayTiming, AReportOfAReplayIntoAnOutsideUnitPlotsLatenessFromTheUnitsStatus)
{
    // Started later than its lead allows, every frame reaches the unit after
    // its play time: the report draws that lateness from the unit's own
    // clock in its status, as it would for a real unit.
    TempDir dir;
    ASSERT_NO_FATAL_FAILURE(generate({ "grabber", "--width", "64", "--height", "8", "--frames", "10", "--fps", "20" },
                                     dir.file("a.grab"), dir));
    vxqir::sim::EmulatorConfig config;
    config.controlIp = "127.0.0.2";
    config.dataIp = "127.0.0.3";
    config.channel.playout.kind = vxqir::sim::PlayoutKind::Timestamps;
    vxqir::sim::UnitEmulator unit(config);
    unit.start();
    const auto result = run(
        { QIR_REPLAY_TOOL, dir.file("a.grab"), "--quiet", "--unit", "127.0.0.2:" + std::to_string(unit.controlPort()),
          "--data", "127.0.0.3:" + std::to_string(unit.dataBasePort()), "--lead", "0.1", "--start-delay", "400000",
          "--report", dir.file("report.html"), "--summary-json", dir.file("summary.json") },
        dir);
    unit.stop();
    ASSERT_EQ(result.exit_code, 0) << result.out << result.err;
    const auto summary = readJson(dir.file("summary.json"));
    EXPECT_GT(summary["channels"][0]["framesLate"].get<uint64_t>(), 0u) << summary.dump(1);

    std::ifstream in(dir.file("report.html"));
    const std::string html((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::string marker = "<polyline class=\"lateness\" data-samples=\"";
    const size_t at = html.find(marker);
    ASSERT_NE(at, std::string::npos) << "no lateness series drawn";
    EXPECT_GT(std::stoul(html.substr(at + marker.size())), 0u);
    EXPECT_EQ(html.find("not measured"), std::string::npos);
    EXPECT_NE(html.find("status acknowledged the frame"), std::string::npos);
}

} // namespace
