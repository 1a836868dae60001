// The timing report's writer and series, without a replay: decimation,
// the HTML it writes, and the series made of sampled counters.

#include "TimingCollector.h"
#include "TimingReport.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>

namespace qir::replay {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

std::vector<SeriesPoint> sawtooth(size_t count)
{
    std::vector<SeriesPoint> points;
    for (size_t i = 0; i < count; ++i)
        points.push_back({ static_cast<double>(i) * 0.01, static_cast<double>(i % 17) });
    return points;
}

TEST(Decimation, LeavesAShortSeriesAsItIs)
{
    const auto points = sawtooth(100);
    EXPECT_EQ(decimateMinMax(points, 100), points);
}

TEST(Decimation, KeepsEverySpansLowestAndHighestInTimeOrderWithinTheLimit)
{
    auto points = sawtooth(100'000);
    points[54'321].v = 1000.0; // one stall
    points[77'777].v = -5.0;   // one dip
    const auto kept = decimateMinMax(points, 4000);
    EXPECT_EQ(kept.size(), 4000u);
    EXPECT_TRUE(std::is_sorted(kept.begin(), kept.end(), [](auto a, auto b) { return a.t < b.t; }));
    EXPECT_NE(std::find(kept.begin(), kept.end(), points[54'321]), kept.end()) << "the maximum survives";
    EXPECT_NE(std::find(kept.begin(), kept.end(), points[77'777]), kept.end()) << "the minimum survives";
}

TEST(Decimation, KeepsOnePointPerSpanOfAFlatSeries)
{
    const std::vector<SeriesPoint> flat(10'000, SeriesPoint{ 1.0, 3.0 });
    EXPECT_EQ(decimateMinMax(flat, 1000).size(), 500u);
}

size_t pointsOf(const std::string& polyline)
{
    return static_cast<size_t>(std::count(polyline.begin(), polyline.end(), ',')); // one "x,y" per point
}

/// The `points` attribute of every polyline of class `cls`.
std::vector<std::string> polylines(const std::string& html, const std::string& cls)
{
    std::vector<std::string> out;
    const std::string start = "<polyline class=\"" + cls + "\"";
    for (size_t at = html.find(start); at != std::string::npos; at = html.find(start, at + 1)) {
        const size_t points = html.find(" points=\"", at) + 9;
        out.push_back(html.substr(points, html.find('"', points) - points));
    }
    return out;
}

size_t occurrences(const std::string& text, const std::string& part)
{
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++n;
    return n;
}

TimingReportData twoChannels()
{
    TimingReportData data;
    data.title = "report";
    data.commandLine = "qir-replay a.bin --report <script>alert(1)</script>";
    data.versions = "qir-replay 3";
    ChannelSeries a;
    a.name = "channel 0";
    a.recording = "a&b.bin";
    a.lateness = sawtooth(10'000);
    a.fifoFree = sawtooth(50);
    a.sendRate = sawtooth(3);
    a.fifoThreshold = 409.6;
    a.marks = { { 12.0, "stall" } };
    ChannelSeries b;
    b.name = "channel 1";
    b.recording = "c.bin";
    b.fifoFree = sawtooth(7);
    data.channels = { a, b };
    data.summaryHeader = { "channel", "frames" };
    data.summaryRows = { { "channel 0", "12" } };
    return data;
}

TEST(TimingReportHtml, DrawsOnePlotPerChannelWithTheDecimatedSeries)
{
    const std::string html = timingReportHtml(twoChannels(), 4000);
    EXPECT_EQ(occurrences(html, "<svg class=\"plot\" data-channel=\""), 2u);
    const auto lateness = polylines(html, "lateness");
    ASSERT_EQ(lateness.size(), 1u) << "channel 1 has no lateness: no line, a note instead";
    EXPECT_EQ(pointsOf(lateness[0]), 4000u);
    const auto fifo = polylines(html, "fifo-free");
    ASSERT_EQ(fifo.size(), 2u);
    EXPECT_EQ(pointsOf(fifo[0]), 50u);
    EXPECT_EQ(pointsOf(fifo[1]), 7u);
    EXPECT_EQ(polylines(html, "send-rate").size(), 1u);
    EXPECT_THAT(html, HasSubstr("not measured"));
    EXPECT_THAT(html, HasSubstr("sending threshold (410)"));
    EXPECT_THAT(html, HasSubstr("Lateness of the frames at the unit (ms)"));
    EXPECT_THAT(html, HasSubstr("time since the replay began (s)"));
    EXPECT_EQ(occurrences(html, "<line class=\"mark\""), 3u) << "the stall on each of channel 0's panels";
    EXPECT_EQ(occurrences(html, ">stall</text>"), 1u);
}

TEST(TimingReportHtml, IsSelfContainedAndEscapesEveryText)
{
    const std::string html = timingReportHtml(twoChannels());
    EXPECT_THAT(html, Not(HasSubstr("<script")));
    EXPECT_THAT(html, Not(HasSubstr("src=")));
    EXPECT_THAT(html, Not(HasSubstr("href=")));
    EXPECT_THAT(html, Not(HasSubstr("@import")));
    EXPECT_THAT(html, HasSubstr("&lt;script&gt;alert(1)&lt;/script&gt;"));
    EXPECT_THAT(html, HasSubstr("a&amp;b.bin"));
    EXPECT_THAT(html, HasSubstr("<td>12</td>"));
}

TEST(TimingCollector, MakesRatesAndIntervalLatenessOfTheCountersDeltas)
{
    TimingCollector collector(1, 0.05);
    EXPECT_TRUE(collector.due(0.0));
    ChannelSample s;
    s.framesTimed = 0;
    collector.add(0.0, std::span(&s, 1));
    EXPECT_FALSE(collector.due(0.01));
    s.framesHandedOn = 10;
    s.fifoFree = 100;
    s.framesTimed = 4;
    s.lateSumNs = 8'000'000; // 4 frames, 2 ms late each
    collector.add(0.5, std::span(&s, 1));
    s.framesToSend = 20;
    s.framesHandedOn = 10; // a stall: nothing handed on, nothing played
    collector.add(1.0, std::span(&s, 1));
    s.framesHandedOn = 12;
    collector.add(1.2, std::span(&s, 1));

    const ChannelSeries& c = collector.series()[0];
    ASSERT_EQ(c.sendRate.size(), 3u);
    EXPECT_DOUBLE_EQ(c.sendRate[0].v, 20.0);
    EXPECT_DOUBLE_EQ(c.sendRate[1].v, 0.0);
    ASSERT_EQ(c.marks.size(), 2u);
    EXPECT_EQ(c.marks[0].text, "stall");
    EXPECT_DOUBLE_EQ(c.marks[0].t, 0.5) << "where the last frame went";
    EXPECT_EQ(c.marks[1].text, "resume");
    EXPECT_DOUBLE_EQ(c.marks[1].t, 1.2);
    ASSERT_EQ(c.lateness.size(), 1u) << "no frame played in the last interval";
    EXPECT_DOUBLE_EQ(c.lateness[0].v, 2.0);
    ASSERT_EQ(c.fifoFree.size(), 3u) << "no status before the second sample";
    EXPECT_DOUBLE_EQ(c.fifoFree[0].v, 100.0);
}

} // namespace
} // namespace qir::replay
