// TimingReport.h - the timing report of a replay as one self-contained HTML
// file: per channel lateness, FIFO free entries and send rate over time,
// then the summary table, the command line and the versions.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace qir::replay {

/// One sample of a series: `t` seconds since the replay began, value `v`.
struct SeriesPoint {
    double t = 0.0;
    double v = 0.0;
    bool operator==(const SeriesPoint&) const = default;
};

/// A moment worth a mark on every panel: a stall, a resume, the end of an
/// interrupted replay.
struct SeriesMark {
    double t = 0.0;
    std::string text;
};

/// What was collected for one channel.
struct ChannelSeries {
    std::string name;                  ///< "channel 0", "channel 1@1"
    std::string recording;             ///< the recording's path
    std::vector<SeriesPoint> lateness; ///< ms late of the frames played (empty: not measured)
    std::vector<SeriesPoint> fifoFree; ///< free FIFO entries in the unit's status
    std::vector<SeriesPoint> sendRate; ///< frames per second handed to the unit client
    /// Entries below which the sender waits (nullopt: FIFO size unknown).
    std::optional<double> fifoThreshold;
    std::vector<SeriesMark> marks;
};

/// Everything the report shows.
struct TimingReportData {
    std::string title;
    std::string commandLine;
    std::string versions;
    std::string latenessNote; ///< how the lateness was found (or why it is missing)
    std::vector<ChannelSeries> channels;
    std::vector<std::string> summaryHeader;
    std::vector<std::vector<std::string>> summaryRows;
};

/// Points of a series that stay at most `maxPoints` (at least 2): the
/// series is cut into maxPoints / 2 spans of equal count, and of each span
/// its lowest and its highest point are kept, in time order (one point when
/// they are the same). A series that is short enough is returned as it is.
/// Every minimum and maximum of the whole series therefore survives.
std::vector<SeriesPoint> decimateMinMax(std::span<const SeriesPoint> points, size_t maxPoints);

/// Points per plotted series at most.
inline constexpr size_t kReportMaxPoints = 4000;

/// The report as HTML text: inline CSS and SVG only (no script, nothing
/// loaded from elsewhere). One `svg.plot` per channel (data-channel = its
/// index in `data.channels`) with three panels; every series is one
/// `polyline` whose class names it (lateness, fifo-free, send-rate) and
/// whose `points` hold the decimated samples; each mark is a vertical
/// `line.mark` on every panel, labelled on the last. Texts are escaped. Pure.
std::string timingReportHtml(const TimingReportData& data, size_t maxPoints = kReportMaxPoints);

/// `text` with &, <, >, " and ' as HTML entities.
std::string htmlEscape(const std::string& text);

} // namespace qir::replay
