// Birth, Death, stopping and the actions of the unit client.
#include "UnitClientFixture.h"

#include "Summary.h"

#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gmock/gmock.h>

#include <chrono>
#include <optional>
#include <thread>

using namespace unit_client_test;

namespace {

constexpr int SKIPPED = 77;

/// Runs this test program's test `name` (a disabled one) in a fresh child
/// process inside a network namespace of its own, whose loopback interface
/// starts down. Returns the child's exit code (0: the test passed), or
/// SKIPPED when no namespace can be made.
int RunInOwnNetwork(const char* name)
{
    std::fflush(nullptr);
    const pid_t child = ::fork();
    if (child == 0) {
        if (::unshare(CLONE_NEWNET) != 0)
            ::_exit(SKIPPED);
        const std::string filter = std::string("--gtest_filter=") + name;
        const char* args[] = { "/proc/self/exe", filter.c_str(), "--gtest_also_run_disabled_tests", nullptr };
        ::execv(args[0], const_cast<char* const*>(args));
        ::_exit(127);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
}

class Lifecycle : public UnitClientFixture {
protected:
    void IplScript(int count, int64_t periodUs = 0)
    {
        auto& script = TheScript();
        script.kind = SampleKind::Ipl;
        script.periodUs = periodUs;
        for (int i = 0; i < count; ++i) {
            ScriptedSample sample;
            sample.bytes.assign(static_cast<size_t>(IplModelOf(script.ipl).imageSize), static_cast<uint8_t>(i));
            script.samples.push_back(sample);
        }
    }
};

} // namespace

TEST_F(Lifecycle, AnUnreachableUnitFailsBirthAndDeathUnregistersNothing)
{
    const int result = RunInOwnNetwork("Lifecycle.DISABLED_InANetworkWithoutLoopbackBirthFails");
    if (result == SKIPPED)
        GTEST_SKIP() << "cannot create a network namespace here";
    EXPECT_EQ(result, 0);
}

// Runs only inside the namespace made by the test above: nothing answers.
TEST_F(Lifecycle, DISABLED_InANetworkWithoutLoopbackBirthFails)
{
    IplScript(1);
    EXPECT_EQ(Run(Graph("Ipl")).failed, 1);
    EXPECT_TRUE(Reported("[Birth] Input interface is not available: "));
    EXPECT_TRUE(Reported("[Death]Sent 0 frames."));
    EXPECT_FALSE(Reported("UnregisterOutputChannel"));
}

struct BirthRefusal {
    const char* name;
    const char* properties;
    const char* error;
};

void PrintTo(const BirthRefusal& c, std::ostream* os)
{
    *os << c.name;
}

class BirthRefusals : public Lifecycle, public ::testing::WithParamInterface<BirthRefusal> { };

TEST_P(BirthRefusals, FailBirthNamingTheCause)
{
    StartUnit();
    IplScript(1);
    EXPECT_EQ(Run(Graph("Ipl", GetParam().properties)).failed, 1);
    EXPECT_TRUE(Reported(GetParam().error)) << log.Text();
    EXPECT_EQ(Channel().requests, 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BirthRefusals,
    ::testing::Values(
        BirthRefusal{ "PayloadBelowEight", "MaxPayLoadSize = 7", "[Birth] MaxPayLoadSize 7 is out of range" },
        BirthRefusal{ "PayloadAbove16Bits", "MaxPayLoadSize = 65536", "[Birth] MaxPayLoadSize 65536 is out of range" },
        BirthRefusal{ "NegativeChannel", "ChannelNumber = -1", "[Birth] Could not register output channel: " },
        BirthRefusal{ "StatusPeriodZero", "StatusUpdatePeriod = 0", "[Birth] StatusUpdatePeriod 0 is out of range" }),
    [](const auto& c) { return std::string(c.param.name); });

TEST_F(Lifecycle, DeathUnregistersTheChannelAndTheUnitStopsReplay)
{
    StartUnit();
    IplScript(2);
    EXPECT_EQ(Run(Graph("Ipl")).failed, 0);
    EXPECT_TRUE(Reported("[Death] UnregisterOutputChannel "));
    EXPECT_TRUE(unit->waitUntil([](const auto& s) { return !s.channels.at(0).enabled; }, std::chrono::seconds(10)));
}

TEST_F(Lifecycle, AnotherRunAfterACleanDeathRegistersAnew)
{
    StartUnit();
    IplScript(1);
    EXPECT_EQ(Run(Graph("Ipl")).failed, 0);
    runner.reset();
    graph.reset();
    EXPECT_EQ(Run(Graph("Ipl", "Unregister_Channel = true")).failed, 0);
    EXPECT_EQ(CountReports("[Death] UnregisterOutputChannel "), 2u);
    EXPECT_EQ(Frames().size(), 2u);
}

TEST_F(Lifecycle, StoppingWhileTheUnitFifoIsFrozenEndsWithinTheTimeoutAndStillUnregisters)
{
    vxqir::sim::EmulatorConfig config;
    config.fifoFrozen = true;
    config.channel.fifoEntries = 8;
    StartUnit(config);
    IplScript(50);
    TheScript().ipl = { 64, 64, 8, "BGR", 4 };
    for (auto& sample : TheScript().samples)
        sample.bytes.assign(static_cast<size_t>(IplModelOf(TheScript().ipl).imageSize), 3);
    const auto start = std::chrono::steady_clock::now();
    const host::RunResult result = Run(Graph("Ipl", "", false, "until = \"duration\"\nduration = \"1500ms\""));
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(result.refused, 0);
    EXPECT_EQ(result.abandoned, 0);
    // The run lasts 1.5 s; the stop may take half the 2 s shutdown timeout
    // and one more stream time-out, with room for a busy machine.
    EXPECT_LT(took, std::chrono::seconds(8));
    EXPECT_TRUE(Reported("Component timeout reached, shutting down directly.")) << log.Text();
    EXPECT_TRUE(Reported("[Death] UnregisterOutputChannel "));
}

TEST_F(Lifecycle, ASendErrorSkipsTheRestOfTheFrameAndLeavesItUncounted)
{
    StartUnit();
    // A 65520-byte line in one datagram is more than UDP over IPv4 carries
    // (65507 bytes), so the socket refuses the first row of each frame.
    auto& script = TheScript();
    script.kind = SampleKind::Ipl;
    script.ipl = { 21840, 3, 8, "BGR", 4 };
    ScriptedSample sample;
    sample.bytes.assign(static_cast<size_t>(IplModelOf(script.ipl).imageSize), 5);
    script.samples = { sample, sample };
    EXPECT_EQ(Run(Graph("Ipl", "MaxPayLoadSize = 65535")).failed, 0) << "a failed send does not stop the run";
    EXPECT_EQ(log.CountAtLevel(KOVA::Error), 2u) << "one error per frame, the other rows not tried\n" << log.Text();
    EXPECT_TRUE(Reported("[Death]Sent 0 frames."));
    EXPECT_EQ(Channel().datagrams, 0u);
}

TEST_F(Lifecycle, BothActionsReachTheUnitWhileTheComponentRuns)
{
    StartUnit();
    IplScript(30, 50'000);
    bool triggered = false;
    std::string why;
    options.poll = [&](host::GraphRunner& running) {
        if (triggered || Channel().blocks == 0)
            return;
        triggered = true;
        EXPECT_TRUE(running.TriggerAction("uc", "ClearStatusFlags", "", why)) << why;
        EXPECT_TRUE(running.TriggerAction("uc", "ResetChannel", "", why)) << why;
    };
    const uint64_t before = 0;
    EXPECT_EQ(Run(Graph("Ipl")).failed, 0);
    EXPECT_TRUE(triggered);
    EXPECT_GT(Channel().requests, before);
    EXPECT_FALSE(Reported("Resetting QIR Channel failed")) << log.Text();
}

TEST_F(Lifecycle, AnActionTheUnitDoesNotAnswerIsAWarning)
{
    StartUnit();
    IplScript(30, 50'000);
    bool triggered = false;
    std::string why;
    options.poll = [&](host::GraphRunner& running) {
        if (triggered || Channel().blocks == 0)
            return;
        triggered = true;
        unit->setReplyDropShare(1.0);
        EXPECT_TRUE(running.TriggerAction("uc", "ClearStatusFlags", "", why)) << why;
        unit->setReplyDropShare(0.0);
    };
    EXPECT_EQ(Run(Graph("Ipl", "TimeoutGet = 200000")).failed, 0);
    EXPECT_TRUE(Reported("Resetting QIR Channel failed: ")) << log.Text();
}

TEST_F(Lifecycle, TheFrameNumberWrapsAfter65536FramesWhileTheCountOfSentFramesGoesOn)
{
    StartUnit();
    auto& script = TheScript();
    script.kind = SampleKind::Ipl;
    script.ipl = { 1, 1, 8, "GRAY", 4 };
    ScriptedSample sample;
    sample.bytes.assign(4, 9);
    script.samples.assign(65537, sample);
    EXPECT_EQ(Run(Graph("Ipl", "", false, "until = \"sources-end\"\nduration = \"150s\"")).failed, 0);
    EXPECT_TRUE(Reported("[Death]Sent 65537 frames.")) << log.Text();
    const auto frames = Frames();
    ASSERT_FALSE(frames.empty());
    EXPECT_EQ(frames.back().frameNumber, 0) << "frame 65536 went out as number 0";
}

TEST_F(Lifecycle, SendsThatTimeOutOnAFullUnitFifoAreRetriedUntilEveryFrameGoesOutWhole)
{
    vxqir::sim::EmulatorConfig config;
    config.fifoFrozen = true;
    config.channel.fifoEntries = 4; // two frames of two rows
    StartUnit(config);
    IplScript(6);
    using Clock = std::chrono::steady_clock;
    std::optional<Clock::time_point> fullSince;
    bool released = false;
    // The FIFO stays full for several stream time-outs (50 ms each), then drains.
    options.poll = [&](host::GraphRunner&) {
        if (released || Channel().blocks < 4)
            return;
        if (!fullSince)
            fullSince = Clock::now();
        else if (Clock::now() - *fullSince > std::chrono::milliseconds(400)) {
            unit->releaseAllFifos();
            released = true;
        }
    };
    EXPECT_EQ(Run(Graph("Ipl", "TimeoutStream = 50000")).failed, 0);
    EXPECT_TRUE(released);
    const auto channel = Channel();
    std::string account = vxqir::sim::verificationLine(channel) + " incomplete by reason:";
    for (size_t r = 0; r < channel.frames.incompleteByReason.size(); ++r)
        account += " " + std::to_string(channel.frames.incompleteByReason[r]);
    EXPECT_EQ(Frames().size(), 6u) << account;
    EXPECT_EQ(channel.frames.framesIncomplete, 0u) << account;
    EXPECT_EQ(log.CountAtLevel(KOVA::Error), 0u) << log.Text();
    EXPECT_FALSE(Reported("[Core] " + std::string(VXQIR_ErrorToString(Timeout)))) << log.Text();
    EXPECT_TRUE(Reported("[Death]Sent 6 frames."));
}

TEST_F(Lifecycle, AHandleThatDeathCouldNotUnregisterIsReleasedAtTheNextBirth)
{
    StartUnit();
    IplScript(1);
    // Handles are given out in sequence: a probe tells the one the
    // component will get.
    const std::string control = UNIT_CONTROL_IP;
    const std::string data = UNIT_DATA_IP;
    VXTQirInputInterfaceT probeInterface{};
    probeInterface.controlIP = control.c_str();
    probeInterface.controlPort = unit->controlPort();
    probeInterface.dataIP = data.c_str();
    probeInterface.dataBasePort = unit->dataBasePort();
    probeInterface.localIP = "127.0.0.1";
    probeInterface.localPort = 0;
    probeInterface.maxPayloadSize = 1448;
    probeInterface.timeoutGet_ms = 200;
    probeInterface.timeoutStream_ms = 200;
    VXTQirChannelHandle probe = -1;
    ASSERT_EQ(VXQIR_RegisterOutputChannel(&probeInterface, 1, &probe), NoError);
    ASSERT_EQ(VXQIR_UnregisterOutputChannel(probe), NoError);
    const VXTQirChannelHandle component = probe + 1;

    // The first run loses its channel behind its back once its frame is
    // complete, so Death cannot unregister it and keeps the handle.
    options.poll = [&](host::GraphRunner&) {
        if (Channel().frames.framesComplete >= 1)
            (void)VXQIR_UnregisterOutputChannel(component);
    };
    Run(Graph("Ipl", "Unregister_Channel = true, Verbose = true"));
    ASSERT_TRUE(Reported("[Death]" + std::string(VXQIR_ErrorToString(InvalidChannelHandle)))) << log.Text();

    // The same instance runs again.
    options.poll = nullptr;
    runner = std::make_unique<host::GraphRunner>(*graph, options);
    EXPECT_EQ(runner->Run().failed, 0);
    EXPECT_TRUE(Reported("QIR Channel Handle: " + std::to_string(component))) << log.Text();
    EXPECT_TRUE(Reported("[Birth] Unregistering output channel failed: " +
                         std::string(VXQIR_ErrorToString(InvalidChannelHandle))));
    EXPECT_EQ(CountReports("[Birth] Channel registered."), 2u);
    EXPECT_TRUE(Reported("[Death] UnregisterOutputChannel " + std::to_string(component + 1) + " succesful."))
        << "the second run registered a channel of its own and released it";
    EXPECT_EQ(Frames().size(), 1u);
}
