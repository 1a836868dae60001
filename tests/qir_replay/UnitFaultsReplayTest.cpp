// qir-replay against an emulated unit of the test that fails under it: a
// unit that dies, a FIFO that freezes for good or for a while, a small FIFO
// played at line rate, a lagging status, lost replies and a refused channel.
// The verdict must come from what the unit acknowledged and played, and
// every failure must end the replay with its cause within its time-out.
#include "ReplayToolRuns.h"
#include "ToolRunner.h"
#include "UnitEmulator.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <memory>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;
using qir::data_types::test::PipedProgram;
using qir::data_types::test::run;
using qir::data_types::test::TempDir;
using qir::replay::test::generate;
using qir::replay::test::readJson;
using qir::replay::test::replayInto;
using qir::replay::test::secondsSince;
using namespace std::chrono_literals;

/// An emulated unit on 127.0.0.2 (control) / 127.0.0.3 (data) that plays
/// lines at their times unless `shape` says otherwise.
std::unique_ptr<vxqir::sim::UnitEmulator> startUnit(const std::function<void(vxqir::sim::EmulatorConfig&)>& shape = {})
{
    vxqir::sim::EmulatorConfig config;
    config.controlIp = "127.0.0.2";
    config.dataIp = "127.0.0.3";
    config.socketReceiveBuffer = 16 << 20;
    config.channel.playout.kind = vxqir::sim::PlayoutKind::Timestamps;
    if (shape)
        shape(config);
    auto unit = std::make_unique<vxqir::sim::UnitEmulator>(config);
    unit->start();
    return unit;
}

TEST(ReplayUnitFaults, AUnitThatDiesEndsTheReplayWithinItsTimeOutNamingTheLastAcknowledgedFrame)
{
    TempDir dir;
    const std::string rec = dir.file("rec.grab");
    ASSERT_NO_FATAL_FAILURE(
        generate({ "grabber", "--width", "64", "--height", "40", "--frames", "90", "--fps", "30" }, rec, dir));
    auto unit = startUnit();
    PipedProgram program(replayInto(*unit, rec, { "--unit-timeout", "1", "--summary-json", dir.file("s.json") }), dir);
    ASSERT_TRUE(unit->waitUntil([](const auto& s) { return s.channels[0].frames.framesComplete >= 5; }, 10s));
    std::this_thread::sleep_for(300ms); // statuses acknowledge what arrived
    const auto before = unit->snapshot().channels[0];
    unit->stop();
    const auto killed = Clock::now();
    const std::string out = program.read_all();
    EXPECT_EQ(program.wait(), 1) << out << program.err();
    // 1 s of silence, plus generous room for a busy machine.
    EXPECT_LT(secondsSince(killed), 6.0);
    EXPECT_NE(program.err().find("qir-replay: unit 127.0.0.2: no status for 1.0 s (since "), std::string::npos)
        << program.err();
    EXPECT_NE(program.err().find("channel 0 acknowledged frames up to "), std::string::npos) << program.err();
    EXPECT_NE(out.find("verdict: FAILED: unit 127.0.0.2: no status for 1.0 s"), std::string::npos) << out;
    const auto channel = readJson(dir.file("s.json"))["channels"][0];
    EXPECT_EQ(channel["end"], "unit lost");
    EXPECT_FALSE(channel["delivered"].get<bool>());
    EXPECT_GE(channel["framesAcknowledged"].get<uint64_t>(), 5u)
        << channel.dump() << " unit: " << before.datagrams << " datagrams, " << before.frames.framesComplete
        << " frames";
    EXPECT_LT(channel["framesAcknowledged"].get<uint64_t>(), 90u);
}

TEST(ReplayUnitFaults, AFrozenFifoEndsTheReplayWithinTheStallTimeOut)
{
    TempDir dir;
    const std::string rec = dir.file("rec.grab");
    ASSERT_NO_FATAL_FAILURE(
        generate({ "grabber", "--width", "64", "--height", "200", "--frames", "40", "--fps", "20" }, rec, dir));
    auto unit = startUnit([](auto& config) { config.fifoFrozen = true; });
    const auto started = Clock::now();
    const auto result =
        run(replayInto(*unit, rec, { "--stall-timeout", "2", "--summary-json", dir.file("s.json") }), dir);
    EXPECT_EQ(result.exit_code, 1) << result.out << result.err;
    // The lead (1 s) before anything is due, the stall time-out, and room.
    EXPECT_LT(secondsSince(started), 10.0);
    EXPECT_NE(result.err.find("qir-replay: unit 127.0.0.2 channel 0: FIFO not played for 2.0 s"), std::string::npos)
        << result.err;
    const auto channel = readJson(dir.file("s.json"))["channels"][0];
    EXPECT_EQ(channel["end"], "stalled");
    ASSERT_EQ(channel["stalls"].size(), 1u);
    EXPECT_GE(channel["stalls"][0]["seconds"].get<double>(), 2.0);
    // The unit client's sends waited for FIFO room (250 ms each) for about
    // the stall time-out: the library counted the ones that gave up.
    EXPECT_GE(channel["sendTimeouts"].get<uint64_t>(), 2u) << channel.dump();
    EXPECT_NE(result.out.find(" send time-outs, "), std::string::npos) << result.out;
}

TEST(ReplayUnitFaults, AFreezeShorterThanTheStallTimeOutIsDeliveredAndReportedInTheSummary)
{
    TempDir dir;
    const std::string rec = dir.file("rec.grab");
    ASSERT_NO_FATAL_FAILURE(
        generate({ "grabber", "--width", "64", "--height", "40", "--frames", "60", "--fps", "20" }, rec, dir));
    auto unit = startUnit();
    PipedProgram program(replayInto(*unit, rec, { "--stall-timeout", "10", "--summary-json", dir.file("s.json") }),
                         dir);
    ASSERT_TRUE(unit->waitUntil([](const auto& s) { return s.channels[0].fifo.framesPlayed >= 3; }, 10s));
    unit->freezeFifo(0);
    std::this_thread::sleep_for(3500ms);
    unit->releaseFifo(0);
    const std::string out = program.read_all();
    EXPECT_EQ(program.wait(), 0) << out << program.err();
    EXPECT_NE(out.find("verdict: delivered"), std::string::npos) << out;
    EXPECT_NE(out.find("  FIFO not played for "), std::string::npos) << out;
    const auto channel = readJson(dir.file("s.json"))["channels"][0];
    EXPECT_TRUE(channel["delivered"].get<bool>());
    ASSERT_EQ(channel["stalls"].size(), 1u) << channel.dump();
    EXPECT_GE(channel["stalls"][0]["seconds"].get<double>(), 1.0);
    EXPECT_EQ(unit->snapshot().channels[0].fifo.framesPlayed, 60u);
}

TEST(ReplayUnitFaults, ASmallFifoAtLineRateIsDeliveredOnlyOnceTheUnitPlayedEveryFrame)
{
    TempDir dir;
    const std::string rec = dir.file("rec.grab");
    ASSERT_NO_FATAL_FAILURE(
        generate({ "grabber", "--width", "64", "--height", "64", "--frames", "120", "--fps", "30" }, rec, dir));
    auto unit = startUnit([](auto& config) {
        config.channel.fifoEntries = 512;
        config.channel.playout = { vxqir::sim::PlayoutKind::LineRate, 4000.0 };
    });
    const auto result = run(replayInto(*unit, rec, { "--rate", "max", "--summary-json", dir.file("s.json") }), dir);
    ASSERT_EQ(result.exit_code, 0) << result.out << result.err;
    // Exit 0 came after the unit played everything, not before.
    const auto snapshot = unit->snapshot();
    EXPECT_EQ(snapshot.channels[0].fifo.framesPlayed, 120u);
    EXPECT_EQ(snapshot.channels[0].fifo.overflows, 0u);
    const auto channel = readJson(dir.file("s.json"))["channels"][0];
    EXPECT_EQ(channel["framesAcknowledged"], 120);
    EXPECT_EQ(channel["fifoEntries"], 512);
    EXPECT_EQ(channel["fifoFreeAtEnd"], 512);
}

struct LagCase {
    std::string name;
    std::vector<std::string> genArgs;
    std::vector<std::string> replayArgs;
    std::function<void(vxqir::sim::EmulatorConfig&)> shape;
    uint64_t frames;
};

void PrintTo(const LagCase& c, std::ostream* os)
{
    *os << c.name;
}

class ReplayDelivered : public ::testing::TestWithParam<LagCase> { };

TEST_P(ReplayDelivered, EveryFrameIsAcknowledgedAndPlayed)
{
    TempDir dir;
    const std::string rec = dir.file("rec.bin");
    ASSERT_NO_FATAL_FAILURE(generate(GetParam().genArgs, rec, dir));
    auto unit = startUnit(GetParam().shape);
    std::vector<std::string> extra = { "--summary-json", dir.file("s.json") };
    extra.insert(extra.end(), GetParam().replayArgs.begin(), GetParam().replayArgs.end());
    const auto result = run(replayInto(*unit, rec, extra), dir);
    ASSERT_EQ(result.exit_code, 0) << result.out << result.err;
    const auto channel = readJson(dir.file("s.json"))["channels"][0];
    EXPECT_EQ(channel["framesSent"], GetParam().frames);
    EXPECT_EQ(channel["framesAcknowledged"], GetParam().frames);
    unit->waitUntil([](const auto& s) { return s.channels[0].framesAwaitingPlayout == 0; }, 5s);
    EXPECT_EQ(unit->snapshot().channels[0].frames.framesComplete, GetParam().frames);
    EXPECT_EQ(unit->snapshot().channels[0].fifo.framesPlayed, GetParam().frames);
}

INSTANTIATE_TEST_SUITE_P(Faults, ReplayDelivered,
                         ::testing::Values(LagCase{ "RawFramesUnderAStatusLagOf100ms",
                                                    { "raw", "--width", "64", "--height", "16", "--frames", "20" },
                                                    { "--fps", "30" },
                                                    [](auto& config) { config.statusDelay = 100ms; },
                                                    20 },
                                           LagCase{ "TenPercentOfRepliesLost",
                                                    { "grabber", "--width", "64", "--height", "16", "--frames", "20",
                                                      "--fps", "30" },
                                                    {},
                                                    [](auto& config) {
                                                        config.replyFaults.dropShare = 0.1;
                                                        config.seed = 7;
                                                    },
                                                    20 }),
                         [](const auto& param) { return param.param.name; });

TEST(ReplayUnitFaults, MoreThan65535FramesAreCountedWhole)
{
    TempDir dir;
    const std::string rec = dir.file("tiny.grab");
    ASSERT_NO_FATAL_FAILURE(
        generate({ "grabber", "--width", "4", "--height", "1", "--frames", "65537", "--fps", "1000" }, rec, dir));
    auto unit = startUnit([](auto& config) { config.channel.playout.kind = vxqir::sim::PlayoutKind::Immediate; });
    const auto result = run(replayInto(*unit, rec, { "--rate", "max", "--summary-json", dir.file("s.json") }), dir);
    ASSERT_EQ(result.exit_code, 0) << result.out << result.err;
    const auto channel = readJson(dir.file("s.json"))["channels"][0];
    EXPECT_EQ(channel["framesSent"], 65537);
    EXPECT_EQ(channel["framesAcknowledged"], 65537);
    EXPECT_EQ(unit->snapshot().channels[0].frames.framesComplete, 65537u);
}

TEST(ReplayUnitFaults, AddressOptionsTakeOneValueEachSoTheRecordingMayFollowThem)
{
    TempDir dir;
    const std::string rec = dir.file("rec.grab");
    ASSERT_NO_FATAL_FAILURE(generate({ "grabber", "--width", "64", "--height", "8", "--frames", "3" }, rec, dir));
    auto unit = startUnit();
    const auto result = run({ QIR_REPLAY_TOOL, "--unit", "127.0.0.2:" + std::to_string(unit->controlPort()), "--data",
                              "127.0.0.3:" + std::to_string(unit->dataBasePort()), rec, "--quiet" },
                            dir);
    EXPECT_EQ(result.exit_code, 0) << result.out << result.err;
}

TEST(ReplayUnitFaults, ARefusedChannelIsAUnitFailureNotBadInput)
{
    TempDir dir;
    const std::string rec = dir.file("rec.grab");
    ASSERT_NO_FATAL_FAILURE(generate({ "grabber", "--width", "64", "--height", "8", "--frames", "4" }, rec, dir));
    auto unit = startUnit([](auto& config) { config.unavailableChannels = { 0 }; });
    const auto result = run(replayInto(*unit, rec, {}), dir);
    EXPECT_EQ(result.exit_code, 1) << result.out << result.err;
}

} // namespace
