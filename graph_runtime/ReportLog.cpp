#include "ReportLog.h"

namespace host {

ReportLog::ReportLog(std::FILE* echo, KOVATimestamp timeOrigin) : echo_(echo), timeOrigin_(timeOrigin)
{ }

const char* ReportLog::LevelName(int32_t level)
{
    switch (level) {
    case KOVA::Info:
        return "INFO";
    case KOVA::Warning:
        return "WARNING";
    case KOVA::Error:
        return "ERROR";
    case KOVA::ParserEcho:
        return "ECHO";
    default:
        return "REPORT";
    }
}

std::string ReportLog::Line(const Report& report) const
{
    char stamp[48];
    const double seconds = static_cast<double>(report.time - timeOrigin_) / 1e6;
    std::snprintf(stamp, sizeof stamp, "[%+10.3f s] %-7s ", seconds, LevelName(report.level));
    return stamp + report.source + ": " + report.text;
}

void ReportLog::Add(KOVATimestamp time, int32_t level, std::string source, std::string text)
{
    const std::lock_guard lock(mutex_);
    reports_.push_back({ time, level, std::move(source), std::move(text) });
    if (echo_) {
        const std::string line = Line(reports_.back());
        std::fprintf(echo_, "%s\n", line.c_str());
        std::fflush(echo_);
    }
}

void ReportLog::SetTimeOrigin(KOVATimestamp origin)
{
    const std::lock_guard lock(mutex_);
    timeOrigin_ = origin;
}

std::vector<Report> ReportLog::Reports() const
{
    const std::lock_guard lock(mutex_);
    return reports_;
}

bool ReportLog::Contains(const std::string& source, const std::string& fragment) const
{
    const std::lock_guard lock(mutex_);
    for (const auto& report : reports_) {
        if ((source.empty() || report.source == source) && report.text.find(fragment) != std::string::npos)
            return true;
    }
    return false;
}

size_t ReportLog::CountAtLevel(int32_t level) const
{
    const std::lock_guard lock(mutex_);
    size_t n = 0;
    for (const auto& report : reports_)
        n += report.level == level ? 1 : 0;
    return n;
}

std::string ReportLog::Text() const
{
    const std::lock_guard lock(mutex_);
    std::string text;
    for (const auto& report : reports_)
        text += Line(report) + "\n";
    return text;
}

} // namespace host
