// qir-replay --on-unit-loss resume against an emulated unit of the test that
// is stopped mid-replay: started again on the same ports, it must receive
// every frame from the first one the old unit had not acknowledged, whole
// and with the recording's checksum, and the summary must list the
// interruption; a unit that stays away ends the replay after the wait, and
// Ctrl-C ends it while it waits.
#include "Recording.h"
#include "ReplayToolRuns.h"
#include "ToolRunner.h"
#include "UnitEmulator.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <csignal>
#include <memory>
#include <mutex>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;
using qir::data_types::test::PipedProgram;
using qir::data_types::test::TempDir;
using qir::replay::test::generate;
using qir::replay::test::readJson;
using qir::replay::test::replayInto;
using qir::replay::test::secondsSince;
using namespace std::chrono_literals;

/// An emulated unit on 127.0.0.2 (control) / 127.0.0.3 (data) that plays
/// lines at their times and reports every frame's checksum, on the given
/// ports (0: picked by the system).
struct TestUnit {
    std::unique_ptr<vxqir::sim::UnitEmulator> unit;
    std::mutex mutex;
    std::vector<uint64_t> checksums;

    TestUnit(uint16_t controlPort, uint16_t dataBasePort)
    {
        vxqir::sim::EmulatorConfig config;
        config.controlIp = "127.0.0.2";
        config.dataIp = "127.0.0.3";
        config.controlPort = controlPort;
        config.dataBasePort = dataBasePort;
        config.checksumEveryFrame = true;
        config.socketReceiveBuffer = 16 << 20;
        config.channel.playout.kind = vxqir::sim::PlayoutKind::Timestamps;
        unit = std::make_unique<vxqir::sim::UnitEmulator>(config);
        unit->addFrameObserver([this](const vxqir::sim::CompletedFrame&, uint64_t checksum) {
            std::lock_guard lock(mutex);
            checksums.push_back(checksum);
        });
        unit->start();
    }
    std::vector<uint64_t> received()
    {
        unit->drainChecksums();
        std::lock_guard lock(mutex);
        return checksums;
    }
};

/// A recording form whose player resumes within the recording: grabber
/// streams read from the file, raw frames through the image converter, and
/// video files whose decoder starts at the first frame.
struct ResumeCase {
    const char* name;
    std::vector<std::string> gen; ///< qir-gen arguments (90 frames)
    const char* file;
};

void PrintTo(const ResumeCase& c, std::ostream* os)
{
    *os << c.name;
}

class ReplayUnitLossResume : public ::testing::TestWithParam<ResumeCase> { };

TEST_P(ReplayUnitLossResume, AUnitStartedAgainOnItsPortsGetsEveryFrameFromTheResumePointWithItsChecksum)
{
    TempDir dir;
    const std::string rec = dir.file(GetParam().file);
    ASSERT_NO_FATAL_FAILURE(generate(GetParam().gen, rec, dir));
    const auto recording = qir::replay::Recording::open(rec);
    auto first = std::make_unique<TestUnit>(0, 0);
    const uint16_t controlPort = first->unit->controlPort();
    const uint16_t dataPort = first->unit->dataBasePort();
    PipedProgram program(replayInto(*first->unit, rec,
                                    { "--on-unit-loss", "resume", "--resume-within", "20", "--unit-timeout", "0.5",
                                      "--summary-json", dir.file("s.json") }),
                         dir);
    ASSERT_TRUE(first->unit->waitUntil([](const auto& s) { return s.channels[0].frames.framesComplete >= 20; }, 10s));
    first->unit->stop();
    const size_t atFirst = first->received().size();
    first.reset();
    // Away for longer than the unit time-out, then back on the same ports.
    std::this_thread::sleep_for(1500ms);
    TestUnit second(controlPort, dataPort);
    const std::string out = program.read_all();
    ASSERT_EQ(program.wait(), 0) << out << program.err();
    EXPECT_NE(out.find("verdict: delivered"), std::string::npos) << out;
    EXPECT_NE(out.find("unit 127.0.0.2:" + std::to_string(controlPort) + " lost from "), std::string::npos) << out;
    EXPECT_NE(program.err().find("waiting up to 20.0 s for it to answer again"), std::string::npos) << program.err();

    const auto summary = readJson(dir.file("s.json"));
    ASSERT_EQ(summary["interruptions"].size(), 1u) << summary.dump(1);
    const auto& interruption = summary["interruptions"][0];
    EXPECT_GE(interruption["seconds"].get<double>(), 1.0);
    EXPECT_EQ(interruption["units"][0]["control"], "127.0.0.2:" + std::to_string(controlPort));
    ASSERT_EQ(interruption["channels"].size(), 1u);
    const uint64_t resumedAt = interruption["channels"][0]["resumedAtFrame"].get<uint64_t>();
    EXPECT_GE(resumedAt, 1u);
    EXPECT_LE(resumedAt, atFirst);
    EXPECT_EQ(interruption["channels"][0]["recordingFrame"].get<uint64_t>(), resumedAt);
    const auto& channel = summary["channels"][0];
    EXPECT_TRUE(channel["delivered"].get<bool>()) << channel.dump();
    EXPECT_EQ(channel["framesAcknowledged"].get<uint64_t>(), 90u);
    EXPECT_EQ(channel["framesSent"].get<uint64_t>(), 90u);

    // Every frame from the resume point on, whole, in order, with the
    // recording's checksum, and played.
    second.unit->waitUntil([&](const auto& s) { return s.channels[0].fifo.framesPlayed >= 90 - resumedAt; }, 5s);
    const std::vector<uint64_t> sums = second.received();
    ASSERT_EQ(sums.size(), 90 - resumedAt);
    for (size_t k = 0; k < sums.size(); ++k)
        EXPECT_EQ(sums[k], recording.sentChecksum(resumedAt + k)) << "frame " << resumedAt + k;
    const auto atSecond = second.unit->snapshot().channels[0];
    EXPECT_EQ(atSecond.frames.framesIncomplete, 0u);
    EXPECT_EQ(atSecond.fifo.framesPlayed, 90 - resumedAt);
    second.unit->stop();
}

INSTANTIATE_TEST_SUITE_P(
    Forms, ReplayUnitLossResume,
    ::testing::Values(
        ResumeCase{
            "Grabber", { "grabber", "--width", "64", "--height", "40", "--frames", "90", "--fps", "30" }, "rec.grab" },
        ResumeCase{ "RawFrames", { "raw", "--width", "64", "--height", "40", "--frames", "90" }, "rec.raw" },
        ResumeCase{
            "Video", { "video", "--width", "64", "--height", "40", "--frames", "90", "--fps", "30" }, "clip.mkv" }),
    [](const ::testing::TestParamInfo<ResumeCase>& testCase) { return std::string(testCase.param.name); });

TEST(ReplayUnitLossNoResume, AUnitThatDoesNotAnswerAgainEndsTheReplayAfterTheWaitSayingHowLongItWaited)
{
    TempDir dir;
    const std::string rec = dir.file("rec.grab");
    ASSERT_NO_FATAL_FAILURE(
        generate({ "grabber", "--width", "64", "--height", "40", "--frames", "90", "--fps", "30" }, rec, dir));
    TestUnit unit(0, 0);
    PipedProgram program(replayInto(*unit.unit, rec,
                                    { "--on-unit-loss", "resume", "--resume-within", "2", "--unit-timeout", "0.5",
                                      "--summary-json", dir.file("s.json") }),
                         dir);
    ASSERT_TRUE(unit.unit->waitUntil([](const auto& s) { return s.channels[0].frames.framesComplete >= 5; }, 10s));
    unit.unit->stop();
    const auto stopped = Clock::now();
    const std::string out = program.read_all();
    EXPECT_EQ(program.wait(), 1) << out << program.err();
    const double took = secondsSince(stopped);
    // The unit time-out and the wait, and generous room for a busy machine.
    EXPECT_GE(took, 2.0);
    EXPECT_LT(took, 10.0);
    EXPECT_NE(program.err().find("it did not answer again within 2.0 s (waited "), std::string::npos) << program.err();
    EXPECT_NE(out.find("verdict: FAILED: unit 127.0.0.2: no status for 0.5 s"), std::string::npos) << out;
    const auto summary = readJson(dir.file("s.json"));
    EXPECT_TRUE(summary["interruptions"].empty());
    EXPECT_EQ(summary["channels"][0]["end"], "unit lost");
    EXPECT_EQ(summary["options"]["onUnitLoss"], "resume");
    EXPECT_EQ(summary["options"]["resumeWithinSeconds"], 2.0);
}

TEST(ReplayUnitLossNoResume, CtrlCWhileWaitingForTheUnitEndsTheReplayAsInterrupted)
{
    TempDir dir;
    const std::string rec = dir.file("rec.grab");
    ASSERT_NO_FATAL_FAILURE(
        generate({ "grabber", "--width", "64", "--height", "40", "--frames", "90", "--fps", "30" }, rec, dir));
    TestUnit unit(0, 0);
    PipedProgram program(replayInto(*unit.unit, rec,
                                    { "--on-unit-loss", "resume", "--resume-within", "60", "--unit-timeout", "0.5",
                                      "--summary-json", dir.file("s.json") }),
                         dir);
    ASSERT_TRUE(unit.unit->waitUntil([](const auto& s) { return s.channels[0].frames.framesComplete >= 5; }, 10s));
    unit.unit->stop();
    const auto waitingSaid = Clock::now() + 10s;
    while (program.err().find("waiting up to 60.0 s") == std::string::npos && Clock::now() < waitingSaid)
        std::this_thread::sleep_for(50ms);
    ASSERT_NE(program.err().find("waiting up to 60.0 s"), std::string::npos) << program.err();
    std::this_thread::sleep_for(700ms); // within a try at the unit
    program.signal(SIGINT);
    const auto interrupted = Clock::now();
    const std::string out = program.read_all();
    EXPECT_EQ(program.wait(), 130) << out << program.err();
    EXPECT_LT(secondsSince(interrupted), 5.0);
    EXPECT_NE(out.find("replay interrupted"), std::string::npos) << out;
    EXPECT_TRUE(readJson(dir.file("s.json"))["interrupted"].get<bool>());
}

} // namespace
