#include "ReplayProgress.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cinttypes>
#include <cstdarg>
#include <filesystem>

namespace qir::replay {

namespace {

__attribute__((format(printf, 1, 2))) std::string format(const char* pattern, ...)
{
    char text[160];
    va_list values;
    va_start(values, pattern);
    std::vsnprintf(text, sizeof text, pattern, values);
    va_end(values);
    return text;
}

std::string lineOf(const ChannelProgress& c)
{
    // Appended piece by piece: GCC 12 at -O3 takes `"ch " + text` for an
    // overlapping copy and warns (-Wrestrict), failing Release builds.
    std::string line = "ch ";
    line += std::to_string(c.channel);
    if (c.unit) {
        line += '@';
        line += std::to_string(*c.unit);
    }
    line += ' ';
    line += std::filesystem::path(c.recording).filename().string();
    line += ": ";
    const bool endless = c.framesTotal == kEndlessFrames;
    if (endless)
        line += format("%" PRIu64 " frames", c.framesSent);
    else
        line += format("%" PRIu64 "/%" PRIu64 " frames", c.framesSent, c.framesTotal);
    if (c.framesAcknowledged)
        line += format(", %" PRIu64 " acknowledged", *c.framesAcknowledged);
    if (c.framesCompleteAtUnit)
        line += format(" (%" PRIu64 " complete at the unit)", *c.framesCompleteAtUnit);
    // Rates: over the sending time once every frame is sent, else over the
    // window of the latest samples.
    const std::optional<WindowRates> current = windowRates(c.window);
    double fps = current ? current->framesPerSecond : 0.0;
    double bytesPerSecond = current ? current->bytesPerSecond : 0.0;
    if (c.secondsToLastFrame && *c.secondsToLastFrame > 0.0) {
        fps = static_cast<double>(c.framesSent) / *c.secondsToLastFrame;
        bytesPerSecond = static_cast<double>(c.bytesSent) / *c.secondsToLastFrame;
    }
    line += format(", %.1f fps, %.1f MB/s", fps, bytesPerSecond / 1e6);
    const bool stale = c.statusAgeSeconds && *c.statusAgeSeconds > kStaleStatusSeconds;
    if (stale)
        line += format(", unit status STALE (none for %.1f s)", *c.statusAgeSeconds);
    else if (c.fifoFreeLatest)
        line += format(", FIFO free %" PRIu32 " (lowest %" PRIu32 ")", *c.fifoFreeLatest,
                       c.fifoFreeLowest.value_or(*c.fifoFreeLatest));
    else
        line += ", FIFO free ?";
    if (c.loss)
        line += ", LOSS";
    if (!c.end.empty()) {
        line += ", ";
        line += c.end;
        return line;
    }
    if (c.framesSent >= c.framesTotal) {
        line += ", all sent";
        return line;
    }
    if (c.paused) {
        line += ", paused (space resumes, s steps one frame, q ends)";
        return line;
    }
    if (c.secondsToNextFrame && *c.secondsToNextFrame > kWaitingShownSeconds)
        line += format(", waiting %.0f s for the next frame", *c.secondsToNextFrame);
    if (endless) {
        line += ", endless";
        return line;
    }
    std::optional<double> eta;
    if (c.replaySecondsTotal && current && current->pace > 0.0 && !c.window.empty())
        eta = std::max(0.0, *c.replaySecondsTotal - c.window.back().replaySeconds) / current->pace;
    else if (!c.replaySecondsTotal && fps > 0.0)
        eta = static_cast<double>(c.framesTotal - c.framesSent) / fps;
    line += stale || !eta ? std::string(", ETA ?") : format(", ETA %.0f s", *eta);
    return line;
}

} // namespace

std::vector<std::string> progressLines(const ProgressSnapshot& snapshot, size_t columns)
{
    std::vector<std::string> lines;
    for (const ChannelProgress& channel : snapshot.channels) {
        lines.push_back(lineOf(channel));
        // A line that wraps would take two rows and spoil the redraw.
        if (columns > 1 && lines.back().size() > columns - 1)
            lines.back().resize(columns - 1);
    }
    return lines;
}

std::string progressText(const ProgressSnapshot& snapshot, bool live, size_t linesShown, size_t columns)
{
    std::string text;
    if (live) {
        if (linesShown > 0)
            text += "\033[" + std::to_string(linesShown) + "A";
        for (const std::string& line : progressLines(snapshot, columns))
            text += "\r\033[K" + line + "\n";
        // Rows of an earlier, longer list stay cleared.
        for (size_t extra = snapshot.channels.size(); extra < linesShown; ++extra)
            text += "\r\033[K\n";
        return text;
    }
    const std::string when = format("replaying %.1f s: ", snapshot.elapsedSeconds);
    for (const std::string& line : progressLines(snapshot))
        text += when + line + "\n";
    return text;
}

ProgressDisplay::ProgressDisplay(std::FILE* out, bool quiet)
    : out_(out)
    , quiet_(quiet)
    , live_(::isatty(::fileno(out)) == 1)
{
    winsize size{};
    if (live_ && ::ioctl(::fileno(out), TIOCGWINSZ, &size) == 0)
        columns_ = size.ws_col;
}

void ProgressDisplay::update(const std::function<ProgressSnapshot()>& take, bool final)
{
    if (quiet_)
        return;
    const auto now = std::chrono::steady_clock::now();
    const auto every = live_ ? std::chrono::milliseconds(200) : std::chrono::milliseconds(2000);
    if (!final && last_ && now - *last_ < every)
        return;
    last_ = now;
    if (live_ && ::tcgetpgrp(::fileno(out_)) != ::getpgrp()) {
        // In the background: drawing over the rows above would draw over
        // the shell's; the next drawing starts on rows of its own.
        linesShown_ = 0;
        if (!final)
            return;
    }
    const ProgressSnapshot snapshot = take();
    const std::string text = progressText(snapshot, live_, linesShown_, columns_);
    std::fputs(text.c_str(), out_);
    std::fflush(out_);
    if (live_)
        linesShown_ = std::max(linesShown_, snapshot.channels.size());
}

} // namespace qir::replay
