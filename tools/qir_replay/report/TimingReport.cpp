#include "TimingReport.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace qir::replay {
namespace {

// Geometry of one panel of a channel's plot, in SVG user units.
constexpr double kWidth = 960;
constexpr double kPanelHeight = 180;
constexpr double kLeft = 72;
constexpr double kRight = 24;
constexpr double kTop = 28;
constexpr double kBottom = 34;
constexpr double kPlotWidth = kWidth - kLeft - kRight;
constexpr double kPlotHeight = kPanelHeight - kTop - kBottom;

const char* const kStyle = R"(
body { font: 14px/1.4 sans-serif; margin: 24px; color: #222; background: #fff; }
h1 { font-size: 22px; } h2 { font-size: 17px; margin-top: 28px; }
svg.plot { display: block; border: 1px solid #ccc; background: #fcfcfc; }
svg text { font: 12px sans-serif; fill: #333; }
svg .title { font-weight: bold; }
svg .axis { stroke: #888; stroke-width: 1; fill: none; }
svg .grid { stroke: #e3e3e3; stroke-width: 1; }
svg polyline { fill: none; stroke-width: 1.5; stroke-linejoin: round; }
svg .lateness { stroke: #c0392b; }
svg .fifo-free { stroke: #2471a3; }
svg .send-rate { stroke: #1e8449; }
svg .threshold { stroke: #d68910; stroke-width: 1.5; stroke-dasharray: 6 4; }
svg .mark { stroke: #7d3c98; stroke-width: 1; stroke-dasharray: 2 3; }
svg .mark-label { fill: #7d3c98; font-size: 11px; }
table { border-collapse: collapse; margin-top: 8px; }
th, td { border: 1px solid #ccc; padding: 3px 8px; text-align: right; }
th { background: #f0f0f0; } td:first-child, th:first-child { text-align: left; }
pre { background: #f5f5f5; padding: 8px; white-space: pre-wrap; word-break: break-all; }
.note { color: #555; }
)";

std::string number(double value, int decimals = 1)
{
    char buffer[64];
    std::snprintf(buffer, sizeof(buffer), "%.*f", decimals, value);
    return buffer;
}

/// A tick label: few decimals for large ranges, more for small ones.
std::string tick(double value, double range)
{
    return number(value, range >= 100 ? 0 : range >= 1 ? 1 : 3);
}

struct Range {
    double low = 0.0;
    double high = 1.0;
};

Range valueRange(std::span<const SeriesPoint> points, std::optional<double> extra)
{
    Range r{ 0.0, 0.0 };
    for (const SeriesPoint& p : points) {
        r.low = std::min(r.low, p.v);
        r.high = std::max(r.high, p.v);
    }
    if (extra) {
        r.low = std::min(r.low, *extra);
        r.high = std::max(r.high, *extra);
    }
    if (r.high - r.low < 1e-9)
        r.high = r.low + 1.0;
    r.high += (r.high - r.low) * 0.05; // a little head room above the top
    return r;
}

/// One panel: frame, grid, ticks with units, the series as a polyline, an
/// optional dashed threshold and a legend.
void panel(std::string& out, double y0, const std::string& title, const std::string& unit,
           std::span<const SeriesPoint> points, const char* seriesClass, const std::string& seriesLabel, Range time,
           std::optional<double> threshold, size_t maxPoints, const std::string& empty,
           std::span<const SeriesMark> marks, bool labelMarks)
{
    const Range values = valueRange(points, threshold);
    const double top = y0 + kTop;
    const double bottom = top + kPlotHeight;
    const auto x = [&](double t) { return kLeft + (t - time.low) / (time.high - time.low) * kPlotWidth; };
    const auto y = [&](double v) { return bottom - (v - values.low) / (values.high - values.low) * kPlotHeight; };

    out += "<text class=\"title\" x=\"" + number(kLeft) + "\" y=\"" + number(y0 + 18) + "\">" + htmlEscape(title) +
        " (" + htmlEscape(unit) + ")</text>\n";
    for (int i = 0; i <= 4; ++i) {
        const double v = values.low + (values.high - values.low) * i / 4.0;
        out += "<line class=\"grid\" x1=\"" + number(kLeft) + "\" x2=\"" + number(kLeft + kPlotWidth) + "\" y1=\"" +
            number(y(v)) + "\" y2=\"" + number(y(v)) + "\"/>";
        out += "<text x=\"" + number(kLeft - 6) + "\" y=\"" + number(y(v) + 4) + "\" text-anchor=\"end\">" +
            tick(v, values.high - values.low) + "</text>\n";
    }
    for (int i = 0; i <= 5; ++i) {
        const double t = time.low + (time.high - time.low) * i / 5.0;
        out += "<text x=\"" + number(x(t)) + "\" y=\"" + number(bottom + 16) + "\" text-anchor=\"middle\">" +
            tick(t, time.high - time.low) + "</text>";
    }
    out += "<text x=\"" + number(kLeft + kPlotWidth) + "\" y=\"" + number(bottom + 30) +
        "\" text-anchor=\"end\">time since the replay began (s)</text>\n";
    out += "<rect class=\"axis\" x=\"" + number(kLeft) + "\" y=\"" + number(top) + "\" width=\"" + number(kPlotWidth) +
        "\" height=\"" + number(kPlotHeight) + "\"/>\n";

    for (const SeriesMark& m : marks) {
        out += "<line class=\"mark\" x1=\"" + number(x(m.t)) + "\" x2=\"" + number(x(m.t)) + "\" y1=\"" + number(top) +
            "\" y2=\"" + number(bottom) + "\"/>";
        if (labelMarks)
            out += "<text class=\"mark-label\" x=\"" + number(x(m.t) + 3) + "\" y=\"" + number(top + 12) + "\">" +
                htmlEscape(m.text) + "</text>";
        out += "\n";
    }
    if (threshold) {
        out += "<line class=\"threshold\" x1=\"" + number(kLeft) + "\" x2=\"" + number(kLeft + kPlotWidth) +
            "\" y1=\"" + number(y(*threshold)) + "\" y2=\"" + number(y(*threshold)) + "\"/>\n";
    }
    if (points.empty()) {
        out += "<text class=\"note\" x=\"" + number(kLeft + kPlotWidth / 2) + "\" y=\"" +
            number(top + kPlotHeight / 2) + "\" text-anchor=\"middle\">" + htmlEscape(empty) + "</text>\n";
    } else {
        const std::vector<SeriesPoint> kept = decimateMinMax(points, maxPoints);
        out += "<polyline class=\"" + std::string(seriesClass) + "\" data-samples=\"" + std::to_string(points.size()) +
            "\" points=\"";
        for (size_t i = 0; i < kept.size(); ++i) {
            if (i > 0)
                out += ' ';
            out += number(x(kept[i].t), 2) + "," + number(y(kept[i].v), 2);
        }
        out += "\"/>\n";
    }

    // Legend, top right.
    double lx = kLeft + kPlotWidth - 330;
    const double ly = y0 + 14;
    out += "<line class=\"" + std::string(seriesClass) + "\" x1=\"" + number(lx) + "\" x2=\"" + number(lx + 24) +
        "\" y1=\"" + number(ly) + "\" y2=\"" + number(ly) + "\" style=\"stroke-width:2\"/>";
    out += "<text x=\"" + number(lx + 30) + "\" y=\"" + number(ly + 4) + "\">" + htmlEscape(seriesLabel) + "</text>";
    if (threshold) {
        lx += 160;
        out += "<line class=\"threshold\" x1=\"" + number(lx) + "\" x2=\"" + number(lx + 24) + "\" y1=\"" + number(ly) +
            "\" y2=\"" + number(ly) + "\"/>";
        out += "<text x=\"" + number(lx + 30) + "\" y=\"" + number(ly + 4) + "\">sending threshold (" +
            number(*threshold, 0) + ")</text>";
    }
    out += "\n";
}

Range timeRange(const ChannelSeries& c)
{
    Range r{ 0.0, 0.0 };
    for (const auto* series : { &c.lateness, &c.fifoFree, &c.sendRate }) {
        for (const SeriesPoint& p : *series)
            r.high = std::max(r.high, p.t);
    }
    for (const SeriesMark& m : c.marks)
        r.high = std::max(r.high, m.t);
    if (r.high < 1e-9)
        r.high = 1.0;
    return r;
}

} // namespace

std::string htmlEscape(const std::string& text)
{
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += "&#39;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

std::vector<SeriesPoint> decimateMinMax(std::span<const SeriesPoint> points, size_t maxPoints)
{
    maxPoints = std::max<size_t>(maxPoints, 2);
    if (points.size() <= maxPoints)
        return { points.begin(), points.end() };
    const size_t spans = maxPoints / 2;
    std::vector<SeriesPoint> out;
    out.reserve(spans * 2);
    for (size_t s = 0; s < spans; ++s) {
        const size_t begin = points.size() * s / spans;
        const size_t end = points.size() * (s + 1) / spans;
        size_t low = begin;
        size_t high = begin;
        for (size_t i = begin; i < end; ++i) {
            if (points[i].v < points[low].v)
                low = i;
            if (points[i].v > points[high].v)
                high = i;
        }
        out.push_back(points[std::min(low, high)]);
        if (low != high)
            out.push_back(points[std::max(low, high)]);
    }
    return out;
}

std::string timingReportHtml(const TimingReportData& data, size_t maxPoints)
{
    std::string out = "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n<title>" +
        htmlEscape(data.title) + "</title>\n<style>" + kStyle + "</style>\n</head>\n<body>\n<h1>" +
        htmlEscape(data.title) + "</h1>\n";
    if (!data.latenessNote.empty())
        out += "<p class=\"note\">" + htmlEscape(data.latenessNote) + "</p>\n";

    for (size_t i = 0; i < data.channels.size(); ++i) {
        const ChannelSeries& c = data.channels[i];
        const Range time = timeRange(c);
        out += "<h2>" + htmlEscape(c.name) + ": " + htmlEscape(c.recording) + "</h2>\n";
        out += "<svg class=\"plot\" data-channel=\"" + std::to_string(i) +
            "\" xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 " + number(kWidth, 0) + " " +
            number(kPanelHeight * 3, 0) + "\" width=\"" + number(kWidth, 0) + "\" height=\"" +
            number(kPanelHeight * 3, 0) + "\" role=\"img\" aria-label=\"" + htmlEscape(c.name) + "\">\n";
        panel(out, 0, "Lateness of the frames at the unit", "ms", c.lateness, "lateness", "lateness", time,
              std::nullopt, maxPoints, "not measured", c.marks, false);
        panel(out, kPanelHeight, "Free FIFO entries", "entries", c.fifoFree, "fifo-free", "free entries (status)", time,
              c.fifoThreshold, maxPoints, "no status seen", c.marks, false);
        panel(out, kPanelHeight * 2, "Send rate", "frames/s", c.sendRate, "send-rate", "frames handed on", time,
              std::nullopt, maxPoints, "nothing sent", c.marks, true);
        out += "</svg>\n";
    }

    out += "<h2>Summary</h2>\n<table>\n<tr>";
    for (const std::string& h : data.summaryHeader)
        out += "<th>" + htmlEscape(h) + "</th>";
    out += "</tr>\n";
    for (const auto& row : data.summaryRows) {
        out += "<tr>";
        for (const std::string& cell : row)
            out += "<td>" + htmlEscape(cell) + "</td>";
        out += "</tr>\n";
    }
    out += "</table>\n<h2>Command line</h2>\n<pre>" + htmlEscape(data.commandLine) + "</pre>\n";
    out += "<h2>Versions</h2>\n<pre>" + htmlEscape(data.versions) + "</pre>\n</body>\n</html>\n";
    return out;
}

} // namespace qir::replay
