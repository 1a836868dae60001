// The qir-unit-sim program as a script uses it: ready file, signals,
// duration, summary and exit codes.

#include "Fnv1a64.h"
#include "ChildProcess.h"
#include "RawUnitClient.h"
#include "UdpSocket.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <csignal>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <thread>

namespace vxqir::sim {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

constexpr auto WAIT = 10s;

/// Polls until `condition` holds or `WAIT` passed.
template <typename Condition>
bool eventually(Condition condition)
{
    const auto deadline = std::chrono::steady_clock::now() + WAIT;
    while (std::chrono::steady_clock::now() < deadline) {
        if (condition())
            return true;
        std::this_thread::sleep_for(5ms);
    }
    return condition();
}

/// The program running in a child process with its output in files of a
/// private directory. Killed and reaped on destruction if still running.
class RunningProgram {
public:
    /// Arguments "@NAME" name file NAME in the private directory.
    /// `fileSizeLimit` (bytes, 0: none) limits every file the program writes.
    explicit RunningProgram(std::vector<std::string> args, rlim_t fileSizeLimit = 0)
    {
        for (auto& a : args) {
            if (a.rfind("@", 0) == 0)
                a = file(a.substr(1)).string();
        }
        args.insert(args.begin(), QIR_UNIT_SIM_PROGRAM);
        process_.start(std::move(args), fileSizeLimit);
    }

    fs::path file(const std::string& name) const { return process_.file(name); }
    /// Names of the files in the program's folder, sorted.
    std::vector<std::string> files() const
    {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(process_.folder()))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
    std::string output(const std::string& name) const { return process_.output(name); }
    void signal(int sig) const { process_.signal(sig); }

    /// The exit code, or -1 when the program did not end within `WAIT` or
    /// ended by a signal.
    int exitCode() { return process_.exitCode(WAIT); }

    /// The key=value pairs of the ready file, once it is there.
    std::map<std::string, std::string> ready() const
    {
        std::map<std::string, std::string> values;
        if (!eventually([&] { return fs::exists(file("ready")); }))
            return values;
        std::istringstream in(output("ready"));
        for (std::string line; std::getline(in, line);) {
            const auto eq = line.find('=');
            if (eq != std::string::npos)
                values[line.substr(0, eq)] = line.substr(eq + 1);
        }
        return values;
    }

private:
    qir::test::ChildProcess process_{ "qir-unit-sim-run" };
};

std::vector<std::string> standardArgs()
{
    return { "--control-ip", "127.0.0.1", "--data-ip",      "127.0.0.1",     "--channels", "2",
             "--ready-file", "@ready",    "--summary-json", "@summary.json", "--no-live",  "--print-frames" };
}

class StopSignal : public ::testing::TestWithParam<int> { };

TEST_P(StopSignal, EndsTheProgramCleanlyWithTheVerificationTheSummaryAndTheCapture)
{
    auto args = standardArgs();
    args.insert(args.end(), { "--capture", "@run.pcapng" });
    RunningProgram program(args);
    const auto ready = program.ready();
    ASSERT_EQ(ready.count("control_port"), 1u) << program.output("stderr");
    const auto control = *Ipv4Endpoint::parse("127.0.0.1", static_cast<uint16_t>(std::stoi(ready.at("control_port"))));
    const auto data = *Ipv4Endpoint::parse("127.0.0.1", static_cast<uint16_t>(std::stoi(ready.at("data_base_port"))));
    testing::RawUnitClient client(control, data);
    ReplayControlMessage frameSize = makeControlMessage(1, Command::SET_FRAME_SIZE, 1);
    frameSize.payload.frameSize = { 100, 4 };
    ASSERT_TRUE(client.request(frameSize));
    ASSERT_TRUE(client.request(Command::ENABLE_CHANNEL, 1));
    uint16_t packet = 0;
    client.sendPatternFrame(1, 3, 4, 100, 1448, packet);
    ASSERT_TRUE(eventually([&] { return program.output("stdout").find("frame channel=1") != std::string::npos; }))
        << program.output("stdout");

    program.signal(GetParam());
    ASSERT_EQ(program.exitCode(), 0) << program.output("stderr");
    const std::string checksum = Fnv1a64::toHex(testing::patternFrameChecksum(3, 4, 100));
    EXPECT_THAT(program.output("stdout"),
                ::testing::HasSubstr("channel=1 datagrams=4 bytes=400 blocks=4 frames_complete=1 "
                                     "frames_incomplete=0 packet_gaps=0 bad_datagrams=0 fifo_overflows=0 "
                                     "fifo_played=4 fifo_skipped=0 frames_played=1 verdict=delivered "
                                     "checksum=" +
                                     checksum));
    const auto summary = nlohmann::json::parse(program.output("summary.json"));
    ASSERT_EQ(summary.at("channels").size(), 2u);
    EXPECT_EQ(summary["channels"][1].at("frames_complete"), 1);
    EXPECT_EQ(summary["channels"][1].at("verdict"), "delivered");
    EXPECT_EQ(summary["channels"][0].at("verdict"), "not_delivered") << "channel 0 received nothing";
    EXPECT_EQ(summary["channels"][1].at("checksum"), checksum);
    EXPECT_TRUE(summary["channels"][0].at("checksum").is_null());
    // Requests, replies and data; what tshark reads in it, CaptureTest shows.
    EXPECT_THAT(program.output("stderr"), ::testing::HasSubstr("datagrams captured in"));
    EXPECT_GT(program.output("run.pcapng").size(), 24u + 8 * (16 + 28));
    // The ready file goes with the program; no temporary file stays behind.
    EXPECT_EQ(program.files(), (std::vector<std::string>{ "run.pcapng", "stderr", "stdout", "summary.json" }));
}

INSTANTIATE_TEST_SUITE_P(Signals, StopSignal, ::testing::Values(SIGTERM, SIGINT),
                         [](const auto& testCase) { return testCase.param == SIGTERM ? "SIGTERM" : "SIGINT"; });

TEST(Program, EndsOnItsOwnAfterTheDuration)
{
    auto args = standardArgs();
    args.insert(args.end(), { "--duration", "0.3" });
    RunningProgram program(args);
    EXPECT_EQ(program.exitCode(), 0) << program.output("stderr");
    EXPECT_TRUE(fs::exists(program.file("summary.json")));
}

TEST(Program, FreezesAndReleasesTheFifosOnUserSignals)
{
    RunningProgram program(standardArgs());
    ASSERT_FALSE(program.ready().empty());
    program.signal(SIGUSR1);
    ASSERT_TRUE(eventually([&] { return program.output("stderr").find("FIFOs frozen") != std::string::npos; }))
        << program.output("stderr");
    program.signal(SIGTERM);
    ASSERT_EQ(program.exitCode(), 0);
    auto summary = nlohmann::json::parse(program.output("summary.json"));
    EXPECT_TRUE(summary["channels"][0]["fifo"].at("frozen").get<bool>());
}

TEST(Program, RefusesABusyControlPortNamingTheAddress)
{
    UdpSocket taken = UdpSocket::bound(*Ipv4Endpoint::parse("127.0.0.1", 0));
    const std::string port = std::to_string(taken.localPort());
    RunningProgram program({ "--control-ip", "127.0.0.1", "--control-port", port, "--no-live" });
    EXPECT_EQ(program.exitCode(), 1);
    EXPECT_THAT(program.output("stderr"), ::testing::HasSubstr("127.0.0.1:" + port));
}

/// Binds the unit's port `port` on `ip`, or leaves it to whoever holds it.
std::optional<UdpSocket> occupy(const std::string& ip, uint16_t port)
{
    try {
        return UdpSocket::bound(*Ipv4Endpoint::parse(ip, port));
    } catch (const SocketSetupError&) {
        return std::nullopt; // in use already, which is what the caller wants
    }
}

TEST(Program, TakesTheUnitsPortsByDefaultAndPrintsTheMatchingReplayCommand)
{
    // An address of its own, so that no other test holds the unit's ports.
    const std::string ip = "127.0.0.23";
    if (!occupy(ip, 65024) || !occupy(ip, 61440) || !occupy(ip, 61441))
        GTEST_SKIP() << "the unit's ports on " << ip << " are in use";
    RunningProgram program(
        { "--control-ip", ip, "--data-ip", ip, "--channels", "2", "--ready-file", "@ready", "--no-live" });
    const auto ready = program.ready();
    ASSERT_EQ(ready.count("control_port"), 1u) << program.output("stderr");
    EXPECT_EQ(ready.at("control_port"), "65024");
    EXPECT_EQ(ready.at("data_base_port"), "61440");
    ASSERT_TRUE(eventually([&] { return program.output("stdout").find("qir-replay") != std::string::npos; }));
    EXPECT_THAT(program.output("stdout"),
                ::testing::HasSubstr("qir-unit-sim ready control=127.0.0.23:65024 data=127.0.0.23:61440 channels=2\n"
                                     "qir-unit-sim replay into it: qir-replay --unit 127.0.0.23:65024 "
                                     "--data 127.0.0.23:61440 RECORDING\n"));
    EXPECT_THAT(program.output("stderr"), ::testing::Not(::testing::HasSubstr("in use")));
    program.signal(SIGTERM);
    EXPECT_EQ(program.exitCode(), 0);
}

TEST(Program, TakesOtherPortsWhenTheUnitsAreInUseAndSaysSo)
{
    const std::string ip = "127.0.0.24";
    const auto control = occupy(ip, 65024);
    const auto data = occupy(ip, 61441); // channel 1's port: the whole range gives way
    RunningProgram program(
        { "--control-ip", ip, "--data-ip", ip, "--channels", "2", "--ready-file", "@ready", "--no-live" });
    const auto ready = program.ready();
    ASSERT_EQ(ready.count("control_port"), 1u) << program.output("stderr");
    const std::string controlPort = ready.at("control_port");
    const std::string dataPort = ready.at("data_base_port");
    EXPECT_NE(controlPort, "65024");
    EXPECT_NE(dataPort, "61440");
    ASSERT_TRUE(eventually([&] { return program.output("stdout").find("qir-replay") != std::string::npos; }));
    EXPECT_THAT(program.output("stdout"),
                ::testing::HasSubstr("qir-replay --unit " + ip + ":" + controlPort + " --data " + ip + ":" + dataPort +
                                     " RECORDING"));
    EXPECT_THAT(program.output("stderr"),
                ::testing::HasSubstr("control port " + ip + ":65024 is in use; took " + controlPort + " instead"));
    EXPECT_THAT(program.output("stderr"), ::testing::HasSubstr("data ports from " + ip + ":61440 are in use"));
    program.signal(SIGTERM);
    EXPECT_EQ(program.exitCode(), 0);
}

TEST(Program, PortZeroStillLetsTheSystemPick)
{
    RunningProgram program({ "--control-ip", "127.0.0.1", "--control-port", "0", "--data-ip", "127.0.0.1",
                             "--data-port", "0", "--ready-file", "@ready", "--no-live" });
    const auto ready = program.ready();
    ASSERT_EQ(ready.count("control_port"), 1u) << program.output("stderr");
    EXPECT_NE(ready.at("control_port"), "65024");
    EXPECT_NE(ready.at("data_base_port"), "61440");
    EXPECT_THAT(program.output("stderr"), ::testing::Not(::testing::HasSubstr("in use")));
    program.signal(SIGTERM);
    EXPECT_EQ(program.exitCode(), 0);
}

TEST(Program, SummaryOnStandardOutputIsTheOnlyThingThere)
{
    RunningProgram program({ "--control-ip", "127.0.0.1", "--data-ip", "127.0.0.1", "--channels", "2", "--summary-json",
                             "-", "--no-live", "--print-frames", "--duration", "0.3" });
    ASSERT_EQ(program.exitCode(), 0) << program.output("stderr");
    const auto summary = nlohmann::json::parse(program.output("stdout"));
    EXPECT_EQ(summary.at("channels").size(), 2u);
    EXPECT_THAT(program.output("stderr"), ::testing::HasSubstr("qir-unit-sim ready control="));
    EXPECT_THAT(program.output("stderr"), ::testing::HasSubstr("channel=1 datagrams=0"));
}

TEST(Program, SummaryThatCannotBeWrittenFailsAndLeavesNoFile)
{
    // The summary of two channels takes about 3 KB; the limit stops it halfway.
    auto args = standardArgs();
    args.insert(args.end(), { "--duration", "0.2" });
    RunningProgram program(args, 1024);
    EXPECT_EQ(program.exitCode(), 1);
    EXPECT_THAT(program.output("stderr"),
                ::testing::HasSubstr("summary file " + program.file("summary.json").string() +
                                     ": cannot write: File too large"));
    EXPECT_EQ(program.files(), (std::vector<std::string>{ "stderr", "stdout" }));
}

struct UnwritableOutput {
    const char* name;
    std::vector<std::string> args; ///< "@x" is the file x in the program's folder
    const char* says;
};

void PrintTo(const UnwritableOutput& value, std::ostream* out)
{
    *out << value.name;
}

class UnwritableOutputs : public ::testing::TestWithParam<UnwritableOutput> { };

TEST_P(UnwritableOutputs, AreRefusedBeforeTheSessionStarts)
{
    // Without --duration the program would run until stopped: a prompt exit
    // shows that the path was checked first.
    std::vector<std::string> args{ "--control-ip", "127.0.0.1", "--data-ip", "127.0.0.1", "--no-live" };
    args.insert(args.end(), GetParam().args.begin(), GetParam().args.end());
    RunningProgram program(args);
    EXPECT_EQ(program.exitCode(), 2);
    EXPECT_THAT(program.output("stderr"), ::testing::HasSubstr(GetParam().says));
    EXPECT_EQ(program.output("stdout"), "") << "nothing started";
    EXPECT_EQ(program.files(), (std::vector<std::string>{ "stderr", "stdout" }));
}

INSTANTIATE_TEST_SUITE_P(
    Table, UnwritableOutputs,
    ::testing::Values(
        UnwritableOutput{ "SummaryIntoAFolder", { "--summary-json", "/tmp" }, "summary file /tmp: is a folder" },
        UnwritableOutput{
            "SummaryInAMissingFolder", { "--summary-json", "@missing/x.json" }, "missing: No such file or directory" },
        UnwritableOutput{ "ReadyFileInAMissingFolder", { "--ready-file", "@missing/ready" }, "ready file " },
        UnwritableOutput{ "CaptureInAMissingFolder", { "--capture", "@missing/run.pcapng" }, "capture file " },
        UnwritableOutput{
            "SummaryAndReadyFileTheSame", { "--summary-json", "@x", "--ready-file", "@x" }, "name the same file" }),
    [](const auto& testCase) { return std::string(testCase.param.name); });

TEST(Program, RefusesABadOptionWithAUsageError)
{
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             { "--channels", "0" }, { "--frobnicate" }, { "--channels" }, { "--duration", "x" } }) {
        RunningProgram program(args);
        EXPECT_EQ(program.exitCode(), 2) << args[0];
        EXPECT_THAT(program.output("stderr"), ::testing::HasSubstr(args[0]));
    }
}

TEST(Program, AnswersHelpWithTheOptionsAndTheirDefaults)
{
    RunningProgram program({ "--help" });
    EXPECT_EQ(program.exitCode(), 0);
    const std::string help = program.output("stdout");
    const size_t option = help.find("--status-period-ms");
    ASSERT_NE(option, std::string::npos) << help;
    const std::string line = help.substr(option, help.find('\n', option) - option);
    EXPECT_THAT(line, ::testing::HasSubstr("]=1"));
}

} // namespace
} // namespace vxqir::sim
