// Gaps and jumps in a recording's times, as check reports them.
#include "TimeGaps.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using qir::replay::FrameEntry;
using qir::replay::TimeGapReport;

/// Frames at the given times (microseconds).
std::vector<FrameEntry> framesAt(const std::vector<uint64_t>& times)
{
    std::vector<FrameEntry> frames;
    for (uint64_t t : times)
        frames.push_back({ .offset = 0, .size = 0, .timeUs = t, .file = 0 });
    return frames;
}

/// `count` frames 40 ms apart from `from`.
std::vector<uint64_t> steady(uint64_t from, size_t count)
{
    std::vector<uint64_t> times;
    for (size_t i = 0; i < count; ++i)
        times.push_back(from + i * 40'000);
    return times;
}

std::vector<uint64_t> joined(std::vector<uint64_t> a, const std::vector<uint64_t>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

struct GapCase {
    const char* name;
    std::vector<uint64_t> times;
    uint64_t gaps;
    uint64_t jumps;
    std::optional<size_t> largestAfterFrame;
    double largestSeconds;
};

void PrintTo(const GapCase& c, std::ostream* os)
{
    *os << c.name;
}

class TimeGaps : public ::testing::TestWithParam<GapCase> { };

TEST_P(TimeGaps, AreCountedAgainstTheMedianPeriod)
{
    const GapCase& c = GetParam();
    const TimeGapReport report = qir::replay::findTimeGaps(framesAt(c.times));
    EXPECT_EQ(report.gaps, c.gaps);
    EXPECT_EQ(report.jumps, c.jumps);
    EXPECT_EQ(report.largestAfterFrame, c.largestAfterFrame);
    EXPECT_NEAR(report.largestSeconds, c.largestSeconds, 1e-9);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TimeGaps,
    ::testing::Values(
        GapCase{ "Steady", steady(1'000'000, 20), 0, 0, std::nullopt, 0.0 },
        GapCase{ "OneFrameAlone", { 5 }, 0, 0, std::nullopt, 0.0 },
        // Three frames missing: a gap of 160 ms, no jump (under 1 s).
        GapCase{ "FramesMissing", joined(steady(0, 10), steady(520'000, 10)), 1, 0, 9, 0.16 },
        // Exactly three periods is no gap yet.
        GapCase{ "ThreePeriodsIsNoGap", joined(steady(0, 10), steady(480'000, 10)), 0, 0, std::nullopt, 0.0 },
        // 18 minutes between two frames: a jump.
        GapCase{ "EighteenMinuteJump", joined(steady(0, 7), steady(240'000 + 1'080'000'000, 7)), 1, 1, 6, 1080.0 },
        // At 1 frame per second ten periods are needed for a jump.
        GapCase{ "SlowRecordingNeedsTenPeriods",
                 { 0, 1'000'000, 2'000'000, 6'000'000, 7'000'000, 19'000'000, 20'000'000 },
                 2,
                 1,
                 4,
                 12.0 },
        // Times that go back are check's other finding, not a gap.
        GapCase{ "TimesGoingBackAreLeftOut", { 0, 40'000, 80'000, 10'000, 50'000, 90'000 }, 0, 0, std::nullopt, 0.0 }),
    [](const auto& param) { return std::string(param.param.name); });

} // namespace
