// The progress lines of qir-replay, formatted from snapshots.
#include "ReplayProgress.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <string>
#include <vector>

namespace {

using qir::replay::ChannelProgress;
using qir::replay::ProgressSnapshot;

ChannelProgress halfway()
{
    ChannelProgress c;
    c.channel = 3;
    c.recording = "/data/rec/front.grab";
    c.framesSent = 50;
    c.framesTotal = 100;
    c.bytesSent = 20'000'000;
    c.fifoFreeLatest = 400;
    c.fifoFreeLowest = 120;
    // The last second: 25 frames of 0.4 MB, keeping the recording's cadence.
    c.window = { { .seconds = 1.0, .frames = 25, .bytes = 10'000'000, .replaySeconds = 1.0 },
                 { .seconds = 2.0, .frames = 50, .bytes = 20'000'000, .replaySeconds = 2.0 } };
    c.replaySecondsTotal = 4.0;
    return c;
}

struct LineCase {
    const char* name;
    ChannelProgress channel;
    double seconds;
    std::vector<std::string> present;
    std::vector<std::string> absent;
};

void PrintTo(const LineCase& c, std::ostream* os)
{
    *os << c.name;
}

class ProgressLine : public ::testing::TestWithParam<LineCase> { };

TEST_P(ProgressLine, ShowsWhatTheChannelHasDone)
{
    const LineCase& c = GetParam();
    const auto lines = qir::replay::progressLines(ProgressSnapshot{ c.seconds, { c.channel } });
    ASSERT_EQ(lines.size(), 1u);
    for (const std::string& text : c.present)
        EXPECT_NE(lines[0].find(text), std::string::npos) << "\"" << text << "\" missing in: " << lines[0];
    for (const std::string& text : c.absent)
        EXPECT_EQ(lines[0].find(text), std::string::npos) << "\"" << text << "\" unexpected in: " << lines[0];
}

ChannelProgress with(ChannelProgress c, auto change)
{
    change(c);
    return c;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ProgressLine,
    ::testing::Values(
        LineCase{
            "Halfway",
            halfway(),
            2.0,
            { "ch 3 front.grab: ", "50/100 frames", "25.0 fps", "10.0 MB/s", "FIFO free 400 (lowest 120)", "ETA 2 s" },
            { "LOSS", "/data/rec", "@", "complete at the unit" } },
        LineCase{ "LossFlag", with(halfway(), [](auto& c) { c.loss = true; }), 2.0, { ", LOSS" }, {} },
        LineCase{ "EndlessLoopHasNoTotalNorEta",
                  with(halfway(),
                       [](auto& c) {
                           c.framesTotal = qir::replay::kEndlessFrames;
                           c.replaySecondsTotal.reset();
                       }),
                  2.0,
                  { "50 frames, ", "25.0 fps", ", endless" },
                  { "50/", "ETA", "all sent" } },
        LineCase{ "AcknowledgedAndFreshStatus",
                  with(halfway(),
                       [](auto& c) {
                           c.framesAcknowledged = 42;
                           c.statusAgeSeconds = 0.02;
                       }),
                  2.0,
                  { "50/100 frames, 42 acknowledged", "FIFO free 400 (lowest 120)" },
                  { "STALE" } },
        LineCase{ "StaleUnitShowsNoOldFigures",
                  with(halfway(), [](auto& c) { c.statusAgeSeconds = 1.5; }),
                  2.0,
                  { "unit status STALE (none for 1.5 s)", "ETA ?" },
                  { "FIFO free", "ETA 2 s" } },
        LineCase{ "EndedChannel", with(halfway(), [](auto& c) { c.end = "FAILED"; }), 2.0, { ", FAILED" }, { "ETA" } },
        LineCase{ "NoSamplesYet",
                  with(halfway(), [](auto& c) { c.window.clear(); }),
                  0.0,
                  { "0.0 fps", "0.0 MB/s", "ETA ?" },
                  { "inf", "nan" } },
        LineCase{ "NothingSentYet",
                  with(halfway(),
                       [](auto& c) {
                           c.framesSent = 0, c.bytesSent = 0;
                           c.window = { { .seconds = 0.5 }, { .seconds = 1.0 } };
                       }),
                  1.0,
                  { "0/100 frames", "0.0 fps", "ETA ?" },
                  { "inf", "nan" } },
        LineCase{ "UnknownFifo",
                  with(halfway(),
                       [](auto& c) {
                           c.fifoFreeLatest.reset();
                           c.fifoFreeLowest.reset();
                       }),
                  2.0,
                  { "FIFO free ?" },
                  { "lowest" } },
        LineCase{ "TotalZero",
                  with(halfway(), [](auto& c) { c.framesSent = 0, c.framesTotal = 0, c.bytesSent = 0; }),
                  1.0,
                  { "0/0 frames", "all sent" },
                  { "ETA", "inf", "nan" } },
        LineCase{ "EverythingSent",
                  with(halfway(), [](auto& c) { c.framesSent = 100; }),
                  4.0,
                  { "100/100 frames", "all sent" },
                  { "ETA" } },
        LineCase{ "RatesOfAFinishedChannelAreOverItsSendingTime",
                  with(halfway(),
                       [](auto& c) {
                           c.framesSent = 100;
                           c.bytesSent = 40'000'000;
                           c.secondsToLastFrame = 4.0;
                       }),
                  60.0,
                  { "25.0 fps", "10.0 MB/s", "all sent" },
                  {} },
        // The rates are those of the window, not averages since the start:
        // a slow start (the check, the lead) no longer drags them down.
        LineCase{ "RatesAreTheWindowsNotTheAverageSinceTheStart",
                  with(halfway(),
                       [](auto& c) {
                           c.window = { { .seconds = 57.0, .frames = 20, .bytes = 8'000'000, .replaySeconds = 0.6 },
                                        { .seconds = 58.5, .frames = 35, .bytes = 14'000'000, .replaySeconds = 1.1 },
                                        { .seconds = 60.0, .frames = 50, .bytes = 20'000'000, .replaySeconds = 1.6 } };
                           c.replaySecondsTotal = 3.2;
                       }),
                  60.0,
                  { "10.0 fps", "4.0 MB/s", "ETA 5 s" },
                  { "0.8 fps" } },
        LineCase{ "FallingBehindTheCadenceStretchesTheEta",
                  with(halfway(), [](auto& c) { c.window.back().replaySeconds = 1.5; }),
                  2.0,
                  { "ETA 5 s" }, // 2.5 replay seconds left at half the cadence
                  { "ETA 2 s" } },
        LineCase{ "StalledWindowHasNoEta",
                  with(halfway(),
                       [](auto& c) {
                           c.window = { { .seconds = 5.0, .frames = 50, .bytes = 20'000'000, .replaySeconds = 2.0 },
                                        { .seconds = 8.0, .frames = 50, .bytes = 20'000'000, .replaySeconds = 2.0 } };
                       }),
                  8.0,
                  { "0.0 fps", "0.0 MB/s", "ETA ?" },
                  { "waiting", "inf", "nan" } },
        LineCase{ "TimeGapShowsTheWaitAndCountsDown",
                  with(halfway(),
                       [](auto& c) {
                           c.window = { { .seconds = 5.0, .frames = 50, .bytes = 20'000'000, .replaySeconds = 3.0 },
                                        { .seconds = 8.0, .frames = 50, .bytes = 20'000'000, .replaySeconds = 6.0 } };
                           c.replaySecondsTotal = 1086.0;
                           c.secondsToNextFrame = 1074.4;
                       }),
                  8.0,
                  { "0.0 fps", "waiting 1074 s for the next frame", "ETA 1080 s" },
                  { "ETA ?" } },
        LineCase{ "PausedShowsTheKeysInPlaceOfTheWaitAndTheEta",
                  with(halfway(),
                       [](auto& c) {
                           c.paused = true;
                           c.secondsToNextFrame = 30.0;
                       }),
                  2.0,
                  { "FIFO free 400", ", paused (space resumes, s steps one frame, q ends)" },
                  { "waiting", "ETA" } },
        LineCase{ "AShortWaitIsNotShown",
                  with(halfway(), [](auto& c) { c.secondsToNextFrame = 0.8; }),
                  2.0,
                  { "ETA 2 s" },
                  { "waiting" } },
        LineCase{ "WindowTooShortForARate",
                  with(halfway(), [](auto& c) { c.window.front().seconds = 1.9; }),
                  2.0,
                  { "0.0 fps", "ETA ?" },
                  { "inf", "nan" } },
        LineCase{ "AsFastAsPossibleGivesTheEtaFromTheFramesLeft",
                  with(halfway(), [](auto& c) { c.replaySecondsTotal.reset(); }),
                  2.0,
                  { "25.0 fps", "ETA 2 s" },
                  {} },
        LineCase{ "EmbeddedUnitAndSecondUnit",
                  with(halfway(),
                       [](auto& c) {
                           c.unit = 1;
                           c.framesCompleteAtUnit = 48;
                       }),
                  2.0,
                  { "ch 3@1 front.grab", "(48 complete at the unit)" },
                  {} }),
    [](const auto& param) { return std::string(param.param.name); });

TEST(ProgressText, LiveLinesAreRedrawnInPlaceOverTheLinesShownBefore)
{
    ProgressSnapshot snapshot{ 1.0, { halfway(), with(halfway(), [](auto& c) { c.channel = 4; }) } };
    const std::string first = qir::replay::progressText(snapshot, true, 0);
    EXPECT_EQ(first.find("\033["), first.find("\033[K")) << "nothing to move over the first time";
    EXPECT_EQ(first.substr(0, 4), "\r\033[K");
    EXPECT_EQ(std::count(first.begin(), first.end(), '\n'), 2);

    const std::string again = qir::replay::progressText(snapshot, true, 2);
    EXPECT_EQ(again.substr(0, 4), "\033[2A") << "up over the two lines drawn before";
    EXPECT_EQ(std::count(again.begin(), again.end(), '\n'), 2);
    EXPECT_NE(again.find("\r\033[Kch 3 "), std::string::npos);
    EXPECT_NE(again.find("\r\033[Kch 4 "), std::string::npos);

    // Fewer channels than rows drawn: the rows left over are cleared, so
    // the cursor ends below everything drawn.
    snapshot.channels.pop_back();
    const std::string fewer = qir::replay::progressText(snapshot, true, 2);
    EXPECT_EQ(std::count(fewer.begin(), fewer.end(), '\n'), 2);
    EXPECT_NE(fewer.find("\r\033[K\n"), std::string::npos);
}

TEST(ProgressText, LiveLinesAreCutToTheTerminalSoThatNoneWraps)
{
    const ProgressSnapshot snapshot{ 1.0, { halfway() } };
    const auto lines = qir::replay::progressLines(snapshot, 30);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].size(), 29u);
    EXPECT_GT(qir::replay::progressLines(snapshot)[0].size(), 29u);
}

TEST(ProgressText, PlainTextIsOneLinePerChannelWithoutTerminalControls)
{
    const ProgressSnapshot snapshot{ 2.0, { halfway(), with(halfway(), [](auto& c) { c.channel = 4; }) } };
    const std::string text = qir::replay::progressText(snapshot, false, 2, 30);
    EXPECT_EQ(text.find('\033'), std::string::npos) << text;
    EXPECT_EQ(text.find('\r'), std::string::npos) << text;
    EXPECT_EQ(text,
              "replaying 2.0 s: " + qir::replay::progressLines(snapshot)[0] +
                  "\nreplaying 2.0 s: " + qir::replay::progressLines(snapshot)[1] + "\n")
        << "plain lines are never cut";
}

} // namespace

TEST(RateWindow, KeepsJustOverItsLengthOfSamples)
{
    qir::replay::RateWindow window(3.0);
    for (int i = 0; i <= 20; ++i)
        window.add({ .seconds = 0.5 * i, .frames = static_cast<uint64_t>(i) });
    const auto& samples = window.samples();
    ASSERT_GE(samples.size(), 2u);
    EXPECT_EQ(samples.back().seconds, 10.0);
    EXPECT_GE(samples.back().seconds - samples.front().seconds, 3.0) << "the window spans its whole length";
    EXPECT_LT(samples.back().seconds - samples[1].seconds, 3.0) << "and no older sample than needed";
}
