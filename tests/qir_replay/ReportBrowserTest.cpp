// The timing report in a real browser: headless Chromium loads it; its DOM
// holds one plot per channel with the expected points, its console stays
// empty, and a screenshot is left next to the test's output for a person
// to look at. Skipped when Chromium is not installed.

#include "ReplayToolRuns.h"
#include "TimingReport.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace {

using qir::data_types::test::run;
using qir::data_types::test::TempDir;
using qir::replay::test::generate;
using ::testing::HasSubstr;
using ::testing::Not;

namespace fs = std::filesystem;

bool chromiumAvailable()
{
    return std::system("command -v chromium >/dev/null 2>&1") == 0;
}

/// What the browser made of a page: the DOM after loading and its log.
struct BrowserView {
    int exitCode = -1;
    std::string dom;
    std::string log;
};

/// Loads `page` in headless Chromium; with `screenshot` also writes a
/// picture of it there.
BrowserView load(const fs::path& page, const TempDir& dir, const fs::path& screenshot = {})
{
    std::vector<std::string> args = { "/usr/bin/env",
                                      "chromium",
                                      "--headless",
                                      "--no-sandbox", // the tests may run as root
                                      "--disable-gpu",
                                      "--no-first-run",
                                      "--user-data-dir=" + dir.file("profile"),
                                      "--enable-logging=stderr",
                                      "--v=0",
                                      "--window-size=1100,2200" };
    if (screenshot.empty())
        args.push_back("--dump-dom");
    else
        args.push_back("--screenshot=" + screenshot.string());
    args.push_back("file://" + fs::absolute(page).string());
    const auto result = run(args, dir);
    return { result.exit_code, result.out, result.err };
}

size_t occurrences(const std::string& text, const std::string& part)
{
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++n;
    return n;
}

/// Points of every polyline of class `cls` in the DOM, in document order.
std::vector<size_t> pointCounts(const std::string& dom, const std::string& cls)
{
    std::vector<size_t> counts;
    const std::string start = "<polyline class=\"" + cls + "\"";
    for (size_t at = dom.find(start); at != std::string::npos; at = dom.find(start, at + 1)) {
        const size_t points = dom.find(" points=\"", at) + 9;
        const size_t end = dom.find('"', points);
        counts.push_back(static_cast<size_t>(std::count(dom.begin() + points, dom.begin() + end, ',')));
    }
    return counts;
}

/// The log lines the page's console produced (Chromium logs them as
/// "CONSOLE"), and script errors.
std::string consoleLines(const std::string& log)
{
    std::string lines;
    std::istringstream in(log);
    for (std::string line; std::getline(in, line);) {
        if (line.find("CONSOLE") != std::string::npos || line.find("Uncaught") != std::string::npos)
            lines += line + "\n";
    }
    return lines;
}

fs::path outputFolder()
{
    const fs::path folder = QIR_REPORT_OUTPUT_DIR;
    fs::create_directories(folder);
    return folder;
}

TEST(ReportInABrowser, NoticesAConsoleError)
{
    // The check of the next tests, shown to work on a page that logs one.
    if (!chromiumAvailable())
        GTEST_SKIP() << "chromium is not installed";
    TempDir dir;
    std::ofstream(dir.file("bad.html")) << "<html><body><script>console.error('boom')</script></body></html>";
    const BrowserView view = load(dir.file("bad.html"), dir);
    ASSERT_EQ(view.exitCode, 0) << view.log;
    EXPECT_THAT(consoleLines(view.log), HasSubstr("boom"));
}

TEST(ReportInABrowser, ShowsTheWritersPlotsWithTheirDecimatedPoints)
{
    if (!chromiumAvailable())
        GTEST_SKIP() << "chromium is not installed";
    TempDir dir;
    qir::replay::TimingReportData data;
    data.title = "qir-replay timing report";
    for (unsigned c = 0; c < 3; ++c) {
        qir::replay::ChannelSeries s;
        s.name = "channel " + std::to_string(c);
        s.recording = "r" + std::to_string(c) + ".bin";
        for (size_t i = 0; i < 10'000 * (c + 1); ++i) {
            const double t = static_cast<double>(i) * 0.05;
            s.lateness.push_back({ t, static_cast<double>(i % 97) * 0.01 });
            s.sendRate.push_back({ t, 30.0 + static_cast<double>(i % 5) });
        }
        for (size_t i = 0; i < 100 * (c + 1); ++i)
            s.fifoFree.push_back({ static_cast<double>(i), static_cast<double>(2048 - i) });
        s.fifoThreshold = 409.6;
        data.channels.push_back(s);
    }
    const fs::path page = outputFolder() / "writer-report.html";
    std::ofstream(page) << qir::replay::timingReportHtml(data);

    const BrowserView view = load(page, dir);
    ASSERT_EQ(view.exitCode, 0) << view.log;
    EXPECT_EQ(occurrences(view.dom, "<svg class=\"plot\""), 3u);
    EXPECT_EQ(pointCounts(view.dom, "lateness"), (std::vector<size_t>{ 4000, 4000, 4000 }));
    EXPECT_EQ(pointCounts(view.dom, "fifo-free"), (std::vector<size_t>{ 100, 200, 300 }));
    EXPECT_EQ(consoleLines(view.log), "");
}

TEST(ReportInABrowser, ShowsAReplaysReportWithOnePlotPerChannelAndLeavesAScreenshot)
{
    if (!chromiumAvailable())
        GTEST_SKIP() << "chromium is not installed";
    TempDir dir;
    ASSERT_NO_FATAL_FAILURE(generate({ "grabber", "--width", "100", "--height", "20", "--frames", "12", "--fps", "20" },
                                     dir.file("a.bin"), dir));
    ASSERT_NO_FATAL_FAILURE(
        generate({ "raw", "--width", "50", "--height", "10", "--frames", "8" }, dir.file("b.bin"), dir));
    const fs::path page = outputFolder() / "replay-report.html";
    const auto replay =
        run({ QIR_REPLAY_TOOL, dir.file("a.bin"), dir.file("b.bin"), "--quiet", "--report", page.string() }, dir);
    ASSERT_EQ(replay.exit_code, 0) << replay.out << replay.err;
    EXPECT_THAT(replay.out, HasSubstr("report: " + page.string()));

    const BrowserView view = load(page, dir);
    ASSERT_EQ(view.exitCode, 0) << view.log;
    EXPECT_EQ(occurrences(view.dom, "<svg class=\"plot\""), 2u);
    // Every series is short enough to be drawn whole: as many points as
    // samples were taken.
    for (const char* cls : { "lateness", "fifo-free", "send-rate" }) {
        const auto counts = pointCounts(view.dom, cls);
        EXPECT_EQ(counts.size(), 2u) << cls;
        const std::string marker = std::string("<polyline class=\"") + cls + "\" data-samples=\"";
        size_t at = view.dom.find(marker);
        for (size_t points : counts) {
            ASSERT_NE(at, std::string::npos);
            EXPECT_EQ(std::to_string(points),
                      view.dom.substr(at + marker.size(), view.dom.find('"', at + marker.size()) - at - marker.size()))
                << cls;
            at = view.dom.find(marker, at + 1);
        }
    }
    EXPECT_THAT(view.dom, HasSubstr("a.bin"));
    EXPECT_THAT(view.dom, HasSubstr("--report"));
    EXPECT_EQ(consoleLines(view.log), "");

    const fs::path screenshot = outputFolder() / "replay-report.png";
    fs::remove(screenshot);
    const BrowserView shot = load(page, dir, screenshot);
    ASSERT_EQ(shot.exitCode, 0) << shot.log;
    EXPECT_TRUE(fs::exists(screenshot)) << shot.log;
    std::printf("report: %s\nscreenshot: %s\n", page.c_str(), screenshot.c_str());
}

TEST(ReportInABrowser, ReportPathIsCheckedBeforeTheReplay)
{
    // Needs no browser: a report that cannot be written is refused at once.
    TempDir dir;
    ASSERT_NO_FATAL_FAILURE(
        generate({ "grabber", "--width", "64", "--height", "8", "--frames", "2" }, dir.file("a.bin"), dir));
    const auto replay =
        run({ QIR_REPLAY_TOOL, dir.file("a.bin"), "--quiet", "--report", dir.file("missing/r.html") }, dir);
    EXPECT_EQ(replay.exit_code, 2);
    EXPECT_THAT(replay.err, HasSubstr("--report: report file"));
    EXPECT_THAT(replay.out, Not(HasSubstr("sent")));
}

} // namespace
