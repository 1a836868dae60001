// vxqir-stream-example as a user runs it: help, usage errors, Ctrl-C in the
// middle of a stream and a unit that does not answer.

#include "UnitEmulator.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace vxqir::examples {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// Generous bound for anything the tests wait for; nothing measures speed.
constexpr auto WAIT = 20s;

std::string readText(const fs::path& path)
{
    std::ifstream in(path);
    return { std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>() };
}

/// The example running in a child process, output in files of a private
/// folder. Killed and reaped on destruction if still running.
class Example {
public:
    explicit Example(std::vector<std::string> args)
    {
        std::string pattern = (fs::temp_directory_path() / "stream-example-XXXXXX").string();
        dir_ = ::mkdtemp(pattern.data());
        args.insert(args.begin(), STREAM_EXAMPLE_PROGRAM);
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        const std::string outPath = (dir_ / "stdout").string();
        const std::string errPath = (dir_ / "stderr").string();
        pid_ = ::fork();
        if (pid_ == 0) {
            // Only async-signal-safe calls between fork and exec.
            const int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            ::dup2(out, STDOUT_FILENO);
            ::dup2(err, STDERR_FILENO);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
    }
    ~Example()
    {
        if (pid_ > 0 && !exited_) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        fs::remove_all(dir_);
    }
    Example(const Example&) = delete;
    Example& operator=(const Example&) = delete;

    std::string out() const { return readText(dir_ / "stdout"); }
    std::string err() const { return readText(dir_ / "stderr"); }
    void signal(int sig) const { ::kill(pid_, sig); }

    /// The exit code; -1 when the program ended by a signal or not within WAIT.
    int exitCode()
    {
        const auto deadline = std::chrono::steady_clock::now() + WAIT;
        int status = 0;
        while (::waitpid(pid_, &status, WNOHANG) != pid_) {
            if (std::chrono::steady_clock::now() > deadline)
                return -1;
            std::this_thread::sleep_for(5ms);
        }
        exited_ = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

private:
    fs::path dir_;
    pid_t pid_ = -1;
    bool exited_ = false;
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
