// The lifecycle the engine stand-in runs: Birth within its time limit, Core
// until the run ends, stop by waking blocking calls, Death, and components
// that fail or refuse to die.
#include "CollectedAssertions.h"
#include "HostFixture.h"

#include <atomic>
#include <chrono>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

std::string lifecycleGraph(const std::string& properties, const std::string& duration = "300ms")
{
    return "[run]\nduration = \"" + duration +
        "\"\n[[component]]\nname = \"c\"\nmodel = \"TestLifecycle\"\nproperties = { " + properties + " }\n";
}

} // namespace

class Lifecycle : public HostFixture { };

TEST_F(Lifecycle, ABirthBeyondItsLimitIsReportedAndTheComponentStillDies)
{
    options.limits.birthLimitUs = 200'000;
    std::vector<std::string> errors;
    graph = Build(lifecycleGraph("BirthUs = 60000000"), errors);
    ASSERT_TRUE(graph) << Joined(errors);
    host::GraphRunner run(*graph, options);
    const auto start = Clock::now();
    const host::RunResult result = run.Run();
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(20));
    EXPECT_TRUE(qir::test::HasReport(log, "c", "Couldn't start. Birth didn't occur correctly (0.2s timeout)."));
    EXPECT_TRUE(qir::test::HasReport(log, "c", "[Death] ran")) << "Death runs after a failed start";
    EXPECT_EQ(result.refused, 0);
    EXPECT_EQ(result.failed, 1) << "a component that could not start failed";
}

TEST_F(Lifecycle, TheRealBirthLimitIsThreeSeconds)
{
    std::vector<std::string> errors;
    graph = Build(lifecycleGraph("BirthUs = 60000000", "10ms"), errors);
    ASSERT_TRUE(graph) << Joined(errors);
    host::GraphRunner run(*graph, options);
    const auto start = Clock::now();
    run.Run();
    const auto took = Clock::now() - start;
    EXPECT_TRUE(qir::test::HasReport(log, "c", "Couldn't start. Birth didn't occur correctly (3s timeout)."));
    EXPECT_GE(took, std::chrono::milliseconds(2900));
    EXPECT_LT(took, std::chrono::seconds(30));
}

TEST_F(Lifecycle, ABirthWithinItsLimitIsNotReported)
{
    options.limits.birthLimitUs = 5'000'000;
    Run(lifecycleGraph("BirthUs = 1000", "50ms"));
    EXPECT_FALSE(qir::test::HasReport(log, "c", "Couldn't start"));
    EXPECT_TRUE(qir::test::HasReport(log, "c", "[Death] ran"));
}

TEST_F(Lifecycle, AnErrorInCoreStopsTheComponentAndDeathStillRuns)
{
    const host::RunResult result = Run(lifecycleGraph("FailInCore = true", "10s"));
    EXPECT_TRUE(qir::test::HasReport(log, "c", "[Core] failing on purpose"));
    EXPECT_TRUE(qir::test::HasReport(log, "c", "[Death] ran"));
    EXPECT_EQ(result.failed, 1);
    // Its only component died, so the run did not wait for its 10 seconds.
    const auto reports = log.Reports();
    EXPECT_EQ(reports.back().text, "[Death] ran");
}

TEST_F(Lifecycle, ABlockingStartReadingIsWokenAtTheStop)
{
    const host::RunResult result = Run(R"(
[run]
duration = "200ms"
[[component]]
name = "silent"
model = "TestLifecycle"
[[component]]
name = "reader"
model = "TestLifecycle"
[[connection]]
from = "silent.Value"
to = "reader.In"
)");
    EXPECT_TRUE(qir::test::HasReport(log, "reader", "[Death] ran"));
    EXPECT_TRUE(qir::test::HasReport(log, "silent", "[Death] ran"));
    EXPECT_EQ(result.refused, 0);
    EXPECT_EQ(result.failed, 0);
}

TEST_F(Lifecycle, AComponentThatRefusesToDieIsReportedAndWaitedFor)
{
    options.limits.deathLimitUs = 100'000;
    options.limits.abandonAfterUs = 20'000'000;
    const host::RunResult result = Run(lifecycleGraph("DeathMs = 600", "50ms"));
    EXPECT_EQ(result.refused, 1);
    EXPECT_EQ(result.abandoned, 0);
    EXPECT_TRUE(
        qir::test::HasReport(log, "c", "c refuses to die after 0.1 seconds. The component model TestLifecycle"));
    EXPECT_TRUE(qir::test::HasReport(log, "c", "[Death] ran"));
}

TEST_F(Lifecycle, ScheduledActionsRunWhileTheComponentLivesAndAreRefusedOnceItIsDead)
{
    Run(R"(
[run]
duration = "300ms"
[[component]]
name = "c"
model = "TestLifecycle"
[[action]]
at = "50ms"
component = "c"
action = "Ping"
)");
    EXPECT_TRUE(qir::test::HasReport(log, "c", "ping"));
    std::string why;
    EXPECT_FALSE(runner->TriggerAction("c", "Ping", "", why));
    EXPECT_EQ(why, "action Ping of c is refused: the component is not running");
    EXPECT_FALSE(runner->TriggerAction("nobody", "Ping", "", why));
    EXPECT_FALSE(runner->TriggerAction("c", "Pong", "", why));
}

TEST_F(Lifecycle, SourcesEndRunsUntilTheSinkHasEverySample)
{
    const auto start = Clock::now();
    const host::RunResult result = Run(R"(
[run]
until = "sources-end"
duration = "60s"
[[component]]
name = "numbers"
model = "HostInt64Source"
properties = { Mode = "Counter", Count = 300, PeriodUs = 0 }
[[component]]
name = "sink"
model = "HostSampleSink"
properties = { ExpectSequence = true }
[[connection]]
from = "numbers.Value"
to = "sink.In"
)");
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(30));
    EXPECT_TRUE(qir::test::HasReport(log, "sink", "[Death] Received 300 samples (2400 bytes), 0 sequence gaps"));
    EXPECT_EQ(result.failed, 0);
}

TEST_F(Lifecycle, SourcesEndLetsAComponentRestingWithItsLastSampleInHandFinishIt)
{
    // The source ends at once; the reader rests 300 ms with each sample,
    // the last one included, while its input is empty.
    const host::RunResult result = Run(R"(
[run]
until = "sources-end"
duration = "60s"
[[component]]
name = "numbers"
model = "HostInt64Source"
properties = { Mode = "Counter", Count = 3, PeriodUs = 0 }
[[component]]
name = "c"
model = "TestLifecycle"
properties = { HoldUs = 300000 }
[[connection]]
from = "numbers.Value"
to = "c.In"
)");
    EXPECT_TRUE(qir::test::HasReport(log, "c", "[Core] handled sample 3"));
    EXPECT_TRUE(qir::test::HasReport(log, "c", "[Death] ran"));
    EXPECT_EQ(result.failed, 0);
}

TEST_F(Lifecycle, PatternImagesReachASinkThroughAnIplImageConnection)
{
    Run(R"(
[run]
until = "sources-end"
duration = "60s"
[[component]]
name = "camera"
model = "HostPatternSource"
properties = { Width = 32, Height = 8, Count = 5, PeriodUs = 0 }
[[component]]
name = "images"
model = "HostSampleSink"
[[connection]]
from = "camera.Image"
to = "images.In"
)");
    // 5 images of 8 rows of 32 x 3 bytes.
    EXPECT_TRUE(qir::test::HasReport(log, "images", "[Death] Received 5 samples (3840 bytes)"));
}

TEST_F(Lifecycle, AFailedBirthIsReportedAndCountsAsAFailure)
{
    const host::RunResult result = Run(lifecycleGraph("FailInBirth = true", "10s"));
    EXPECT_TRUE(qir::test::HasReport(log, "c", "[Birth] failing on purpose"));
    EXPECT_TRUE(qir::test::HasReport(log, "c", "Couldn't start. Birth failed"));
    EXPECT_TRUE(qir::test::HasReport(log, "c", "[Death] ran"));
    EXPECT_EQ(result.failed, 1);
    EXPECT_FALSE(result.interrupted);
}

// The failed reader is a never-skipping reader of a FIFO of 4: while it
// stayed registered the source could write only 4 samples.
TEST_F(Lifecycle, AFailedReaderNoLongerHoldsItsWriterBack)
{
    const auto start = Clock::now();
    const host::RunResult result = Run(R"(
[run]
until = "sources-end"
duration = "20s"
[[component]]
name = "numbers"
model = "HostInt64Source"
properties = { Mode = "Counter", Count = 300, PeriodUs = 0, "Value.fifosize" = 4 }
[[component]]
name = "broken"
model = "TestLifecycle"
properties = { FailInBirth = true }
[[component]]
name = "sink"
model = "HostSampleSink"
properties = { ExpectSequence = true }
[[connection]]
from = "numbers.Value"
to = "broken.In"
[[connection]]
from = "numbers.Value"
to = "sink.In"
)");
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(15)) << "the run waited for its cap";
    EXPECT_TRUE(qir::test::HasReport(log, "sink", "[Death] Received 300 samples (2400 bytes), 0 sequence gaps"));
    EXPECT_EQ(result.failed, 1);
}

TEST_F(Lifecycle, AnInterruptedRunSaysSo)
{
    std::atomic<bool> interrupt{ false };
    options.interrupt = &interrupt;
    std::thread user([&interrupt] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        interrupt = true;
    });
    const host::RunResult result = Run(lifecycleGraph("", "60s"));
    user.join();
    EXPECT_TRUE(result.interrupted);
    EXPECT_EQ(result.failed, 0);
    EXPECT_TRUE(qir::test::HasReport(log, "c", "[Death] ran"));
}

// A component that would not die is left running; when it ends at last,
// long after its runner and graph are gone, it must touch nothing of them.
TEST_F(Lifecycle, AnAbandonedComponentEndsSafelyAfterItsRunnerIsGone)
{
    options.limits.deathLimitUs = 50'000;
    options.limits.abandonAfterUs = 50'000;
    const host::RunResult result = Run(lifecycleGraph("DeathMs = 500", "20ms"));
    EXPECT_EQ(result.abandoned, 1);
    runner.reset();
    graph.reset();
    const auto deadline = Clock::now() + std::chrono::seconds(20);
    while (!log.Contains("c", "[Death] ran") && Clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_TRUE(qir::test::HasReport(log, "c", "[Death] ran"));
    // Time for the thread to record that it ended.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
}
