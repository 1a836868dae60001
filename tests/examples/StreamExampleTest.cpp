// vxqir-stream-example as a user runs it: help, usage errors, Ctrl-C in the
// middle of a stream and a unit that does not answer.

#include "ChildProcess.h"
#include "FakePing.h"
#include "UnitEmulator.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace vxqir::examples {
namespace {

using namespace std::chrono_literals;

// Generous bound for anything the tests wait for; nothing measures speed.
constexpr auto WAIT = 20s;

/// The example running in a child process, output in files of a private
/// folder. Killed and reaped on destruction if still running.
class Example {
public:
    explicit Example(std::vector<std::string> args)
    {
        args.insert(args.begin(), STREAM_EXAMPLE_PROGRAM);
        process_.start(std::move(args));
    }

    std::string out() const { return process_.output("stdout"); }
    std::string err() const { return process_.output("stderr"); }
    void signal(int sig) const { process_.signal(sig); }

    /// The exit code; -1 when the program ended by a signal or not within WAIT.
    int exitCode() { return process_.exitCode(WAIT); }

private:
    qir::test::ChildProcess process_{ "stream-example" };
};

/// An emulated unit on the loopback addresses the tests use.
std::unique_ptr<sim::UnitEmulator> startUnit(sim::EmulatorConfig config)
{
    config.controlIp = "127.0.0.2";
    config.dataIp = "127.0.0.3";
    auto unit = std::make_unique<sim::UnitEmulator>(config);
    unit->start();
    return unit;
}

std::vector<std::string> unitArgs(const sim::UnitEmulator& unit)
{
    return { "--control-ip", "127.0.0.2", "--control-port", std::to_string(unit.controlPort()),
             "--data-ip",    "127.0.0.3", "--data-port",    std::to_string(unit.dataBasePort()),
             "--local-ip",   "127.0.0.1", "--skip-ping" };
}

TEST(StreamExample, AnswersHelpWithItsOptionsAndDefaults)
{
    Example example({ "--help" });
    EXPECT_EQ(example.exitCode(), 0);
    EXPECT_NE(example.out().find("--frames N         frames to send, 1-65536 (default 10)"), std::string::npos)
        << example.out();
    Example shortForm({ "-h" });
    EXPECT_EQ(shortForm.exitCode(), 0);
    EXPECT_EQ(shortForm.out(), example.out());
}

TEST(StreamExample, RefusesBadArgumentsWithAUsageError)
{
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             { "--frames", "0" }, { "--height", "x" }, { "--bogus" }, { "stray" } }) {
        Example example(args);
        EXPECT_EQ(example.exitCode(), 2) << args[0];
        EXPECT_NE(example.err().find(args[0].substr(args[0].find_first_not_of('-'))), std::string::npos)
            << example.err();
    }
}

class StreamExampleStop : public ::testing::TestWithParam<int> { };

TEST_P(StreamExampleStop, StopsSendingUnregistersAndSaysHowManyFramesWereSent)
{
    // Played at a bounded line rate, the stream is still running when the
    // signal comes.
    sim::EmulatorConfig config;
    config.channel.playout = { .kind = sim::PlayoutKind::LineRate, .linesPerSecond = 2000.0 };
    config.channel.fifoEntries = 64;
    auto unit = startUnit(config);
    std::vector<std::string> args = unitArgs(*unit);
    args.insert(args.end(), { "--frames", "65536", "--width", "100", "--height", "10" });
    Example example(args);
    ASSERT_TRUE(
        unit->waitUntil([](const sim::EmulatorSnapshot& s) { return s.channels[0].frames.framesComplete >= 3; }, WAIT))
        << example.err();

    example.signal(GetParam());
    ASSERT_EQ(example.exitCode(), 130) << example.err();
    const std::string out = example.out();
    EXPECT_NE(out.find("stopped by " + std::string(GetParam() == SIGINT ? "SIGINT" : "SIGTERM") + ": frames_sent="),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("channel 0 unregistered"), std::string::npos) << out;
    // The unit was told: no more replay, no more status to a client that is gone.
    EXPECT_TRUE(unit->waitUntil(
        [](const sim::EmulatorSnapshot& s) { return !s.channels[0].enabled && !s.channels[0].statusEnabled; }, WAIT));
    const auto sent = std::stol(out.substr(out.find("frames_sent=") + 12));
    EXPECT_GE(sent, 3);
    EXPECT_LT(sent, 65536);
}

INSTANTIATE_TEST_SUITE_P(Signals, StreamExampleStop, ::testing::Values(SIGINT, SIGTERM),
                         [](const auto& testCase) { return testCase.param == SIGINT ? "SIGINT" : "SIGTERM"; });

TEST(StreamExample, ProbesTheUnitWithOnePingAndGoesOnWhenItAnswers)
{
    auto unit = startUnit({});
    qir::test::FakePing ping(0, 0);
    std::vector<std::string> args = unitArgs(*unit);
    args.pop_back(); // ping this time
    args.insert(args.end(), { "--frames", "1", "--width", "8", "--height", "2" });
    Example example(args);
    ASSERT_EQ(example.exitCode(), 0) << example.err();
    // The control address, then the data address.
    EXPECT_EQ(ping.args(), "-c1 -s1 -W1 127.0.0.3\n");
    EXPECT_NE(example.out().find("frames_sent=1 "), std::string::npos) << example.out();
}

TEST(StreamExample, SaysTheUnitIsUnreachableWhenPingFails)
{
    qir::test::FakePing ping(0, 1);
    Example example({ "--control-ip", "127.0.0.2", "--data-ip", "127.0.0.3", "--frames", "1" });
    ASSERT_EQ(example.exitCode(), 1) << example.err();
    EXPECT_EQ(ping.args(), "-c1 -s1 -W1 127.0.0.2\n");
    EXPECT_NE(example.err().find("VXQIR_IsInputInterfaceAvailable"), std::string::npos) << example.err();
}

TEST(StreamExample, ACtrlCDuringASlowPingStopsTheProgramAndThePing)
{
    qir::test::FakePing ping(60, 0);
    Example example({ "--control-ip", "127.0.0.2", "--data-ip", "127.0.0.3", "--frames", "1" });
    const auto deadline = std::chrono::steady_clock::now() + WAIT;
    while (ping.args().empty() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(10ms);
    ASSERT_FALSE(ping.args().empty()) << "ping was not started";
    const pid_t pingPid = ping.pid();
    ASSERT_GT(pingPid, 0);

    example.signal(SIGINT);
    // Well before the ping would have ended by itself.
    ASSERT_EQ(example.exitCode(), 130) << example.err();
    EXPECT_NE(example.out().find("stopped by a signal before registering"), std::string::npos) << example.out();
    EXPECT_EQ(example.err(), "") << "an interrupted probe is no error of the unit";
    // The library stopped and reaped its ping.
    EXPECT_NE(::kill(pingPid, 0), 0);
}

TEST(StreamExample, ExplainsATimeOutOfARequest)
{
    sim::EmulatorConfig config;
    config.replyFaults.dropShare = 1.0;
    auto unit = startUnit(config);
    std::vector<std::string> args = unitArgs(*unit);
    args.insert(args.end(), { "--timeout-ms", "200" });
    Example example(args);
    EXPECT_EQ(example.exitCode(), 1);
    EXPECT_NE(
        example.err().find("no reply from the unit's control address 127.0.0.2:" + std::to_string(unit->controlPort()) +
                           " to the request of VXQIR_InitOutputChannel within 200 ms"),
        std::string::npos)
        << example.err();
}

TEST(StreamExample, ExplainsATimeOutWaitingForRoomInTheReplayFifo)
{
    sim::EmulatorConfig config;
    config.fifoFrozen = true;
    config.channel.fifoEntries = 16;
    auto unit = startUnit(config);
    std::vector<std::string> args = unitArgs(*unit);
    args.insert(args.end(), { "--timeout-ms", "200", "--frames", "100", "--width", "100", "--height", "10" });
    Example example(args);
    EXPECT_EQ(example.exitCode(), 1);
    EXPECT_NE(example.err().find("the unit's replay FIFO had no room for the block for 400 ms"), std::string::npos)
        << example.err();
}

} // namespace
} // namespace vxqir::examples
