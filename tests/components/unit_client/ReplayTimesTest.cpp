// Replay times from the time inputs to the unit, and the status outputs.
#include "UnitClientFixture.h"

#include "UnitClock.h"

#include <gmock/gmock.h>

#include <chrono>
#include <string>
#include <thread>

using namespace unit_client_test;

namespace {

class ReplayTimes : public UnitClientFixture {
protected:
    /// `count` small IPL images with the given times before each.
    void Script(int count, int64_t offset, int64_t start = -1, int64_t stop = -1)
    {
        auto& script = TheScript();
        script.kind = SampleKind::Ipl;
        for (int i = 0; i < count; ++i) {
            ScriptedSample sample;
            sample.bytes.assign(static_cast<size_t>(IplModelOf(script.ipl).imageSize), 1);
            sample.offsetUs = offset;
            sample.startUs = start;
            sample.stopUs = stop;
            script.samples.push_back(sample);
        }
    }
};

} // namespace

TEST_F(ReplayTimes, TheOffsetGoesToTheUnitInNanosecondsOnceWhileItStaysTheSame)
{
    StartUnit();
    Script(4, 1000);
    EXPECT_EQ(Run(Graph("Ipl")).failed, 0);
    EXPECT_EQ(Channel().times.offsetNs, 1'000'000u);
    EXPECT_EQ(Channel().times.startNs, 0u);
    EXPECT_EQ(CountReports("Input received a new offset timestamp: 1000 us)"), 1u);
    EXPECT_EQ(Frames().size(), 4u);
}

TEST_F(ReplayTimes, AChangedOffsetIsSentAgain)
{
    StartUnit();
    Script(2, 1000);
    TheScript().samples[1].offsetUs = 7000;
    EXPECT_EQ(Run(Graph("Ipl")).failed, 0);
    EXPECT_EQ(Channel().times.offsetNs, 7'000'000u);
    EXPECT_TRUE(Reported("Input received a new offset timestamp: 7000 us)"));
}

TEST_F(ReplayTimes, StartAndStopAreSentWithTheOffsetKnownThen)
{
    StartUnit();
    Script(3, 1000, 2000, 9000);
    EXPECT_EQ(Run(Graph("Ipl", "", true)).failed, 0);
    const auto times = Channel().times;
    EXPECT_EQ(times.offsetNs, 1'000'000u);
    EXPECT_EQ(times.startNs, 2'000'000u);
    EXPECT_EQ(times.stopNs, 9'000'000u);
    EXPECT_TRUE(Reported("Input received a new start timestamp: 2000 us)"));
    EXPECT_TRUE(Reported("Input received a new stop timestamp: 9000 us)"));
    EXPECT_EQ(Frames().size(), 3u);
}

TEST_F(ReplayTimes, WithoutAnOffsetEverySampleIsDropped)
{
    StartUnit();
    Script(3, -1);
    EXPECT_EQ(Run(Graph("Ipl")).failed, 0);
    EXPECT_EQ(Channel().datagrams, 0u);
    EXPECT_TRUE(Reported("[Death]Sent 0 frames."));
    EXPECT_FALSE(Reported("Input received"));
}

TEST_F(ReplayTimes, WithStartStopInputsAStartAloneDropsEverySample)
{
    StartUnit();
    Script(3, 1000, 2000, -1);
    EXPECT_EQ(Run(Graph("Ipl", "", true)).failed, 0);
    EXPECT_EQ(Channel().datagrams, 0u);
    EXPECT_EQ(Channel().times.startNs, 2'000'000u) << "the start time itself went out";
    EXPECT_TRUE(Reported("[Death]Sent 0 frames."));
}

TEST_F(ReplayTimes, TheStatusOutputsCarryTheUnitStatusAndItsTimeInMicroseconds)
{
    vxqir::sim::EmulatorConfig config;
    config.clock = std::make_shared<vxqir::sim::ManualUnitClock>(1999);
    StartUnit(config);
    Script(3, 1000);
    TheScript().periodUs = 100'000;
    EXPECT_EQ(Run(Graph("Ipl")).failed, 0);
    const StatusRecord status = RecordedStatus();
    ASSERT_FALSE(status.unitTimesUs.empty());
    EXPECT_THAT(status.unitTimesUs, ::testing::Each(1)) << "1999 ns truncate to 1 us";
    ASSERT_FALSE(status.states.empty());
    EXPECT_EQ(status.states.back().currentTime_ns, 1999u);
    EXPECT_TRUE(status.states.back().enabled);
}

TEST_F(ReplayTimes, NoStatusIsPublishedBeforeTheFirstSample)
{
    StartUnit();
    TheScript().kind = SampleKind::Ipl;
    TheScript().firstDelayUs = 10'000'000; // no sample in this run
    EXPECT_EQ(Run(Graph("Ipl", "", false, "until = \"duration\"\nduration = \"700ms\"")).failed, 0);
    EXPECT_TRUE(RecordedStatus().states.empty());
    EXPECT_TRUE(RecordedStatus().unitTimesUs.empty());
    EXPECT_EQ(Channel().statusMessages, 0u) << "status messages are enabled by the first sample";
}

TEST_F(ReplayTimes, VerboseRunsReportEachStepAndEachStatus)
{
    StartUnit();
    Script(2, 1000);
    TheScript().periodUs = 100'000;
    EXPECT_EQ(Run(Graph("Ipl", "Verbose = true")).failed, 0);
    for (const char* text :
         { "[Birth] Interface available", "[Birth] Channel registered.", "[Core] Output channel initialized.",
           "[Core] Replaying frames with 2 lines.", "[Core] Each packet has 12 Bytes.", "), , " })
        EXPECT_TRUE(Reported(text)) << text;
}

TEST_F(ReplayTimes, AUnitThatSendsNoStatusGetsNeitherTimesNorSamplesAndTheOutputsStaySilent)
{
    vxqir::sim::EmulatorConfig config;
    config.statusStopped = true;
    StartUnit(config);
    Script(3, 1000);
    EXPECT_EQ(Run(Graph("Ipl", "", false, "until = \"duration\"\nduration = \"1500ms\"")).failed, 0);
    EXPECT_TRUE(Reported("[Core] Waiting for valid status."));
    EXPECT_TRUE(RecordedStatus().states.empty());
    EXPECT_TRUE(RecordedStatus().unitTimesUs.empty());
    EXPECT_EQ(Channel().datagrams, 0u);
    EXPECT_EQ(Channel().times.offsetNs, 0u) << "no time before a valid status";
    EXPECT_TRUE(Reported("[Death] UnregisterOutputChannel ")) << "the stop woke the wait";
}

TEST_F(ReplayTimes, AStatusTheUnitStoppedSendingIsNoLongerPublishedAndItsReturnIsSaid)
{
    StartUnit();
    Script(1, 1000);
    // StatusUpdatePeriod 20 ms: the unit time-out is 1 s.
    size_t publishedBeforeSilence = 0, publishedLateInSilence = 0;
    std::thread unitSide([&] {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (RecordedStatus().states.empty() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        unit->setStatusStopped(true);
        std::this_thread::sleep_for(std::chrono::milliseconds(1400));
        publishedBeforeSilence = RecordedStatus().states.size();
        std::this_thread::sleep_for(std::chrono::milliseconds(400));
        publishedLateInSilence = RecordedStatus().states.size();
        unit->setStatusStopped(false);
    });
    const auto result = Run(Graph("Ipl", "", false, "until = \"duration\"\nduration = \"4s\""));
    unitSide.join();
    EXPECT_EQ(result.failed, 0);

    EXPECT_GT(publishedBeforeSilence, 0u);
    EXPECT_EQ(publishedLateInSilence, publishedBeforeSilence) << "a stale status was published";
    EXPECT_GT(RecordedStatus().states.size(), publishedLateInSilence) << "the status came back";
    EXPECT_EQ(CountReports("[Status] No status from the unit for "), 1u);
    EXPECT_EQ(CountReports("[Status] Status from the unit again after "), 1u);
    // Both name the silence in milliseconds: more than the time-out.
    for (const auto& report : log.Reports()) {
        for (const std::string text :
             { "[Status] No status from the unit for ", "[Status] Status from the unit again after " }) {
            const auto at = report.text.find(text);
            if (at != std::string::npos) {
                EXPECT_GT(std::stol(report.text.substr(at + text.size())), 1000) << report.text;
            }
        }
    }
}

TEST_F(ReplayTimes, ATimeTheUnitRefusesIsOneBareErrorAndTheSamplesStillGoOut)
{
    StartUnit();
    Script(5, 1000);
    auto& script = TheScript();
    // Two samples without an offset first: the unit is set up and the time
    // not yet sent when the unit stops answering.
    script.samples[0].offsetUs = -1;
    script.samples[1].offsetUs = -1;
    script.periodUs = 300'000;
    bool dropping = false;
    options.poll = [&](host::GraphRunner&) {
        if (!dropping && Reported("[Core] Output channel initialized.")) {
            unit->setReplyDropShare(1.0);
            dropping = true;
        } else if (dropping && log.CountAtLevel(KOVA::Error) > 0) {
            unit->setReplyDropShare(0.0);
        }
    };
    EXPECT_EQ(Run(Graph("Ipl", "Verbose = true, TimeoutGet = 200000")).failed, 0);

    std::vector<std::string> errors;
    for (const auto& report : log.Reports())
        if (report.level == KOVA::Error)
            errors.push_back(report.text);
    EXPECT_EQ(errors, std::vector<std::string>{ VXQIR_ErrorToString(Timeout) }) << "the bare text, once";
    EXPECT_EQ(CountReports("Input received a new offset timestamp: 1000 us)"), 1u) << "not sent again";
    EXPECT_EQ(Frames().size(), 3u) << "the stored time lets every later sample go out";
    EXPECT_TRUE(Reported("[Death]Sent 3 frames.")) << log.Text();
}
