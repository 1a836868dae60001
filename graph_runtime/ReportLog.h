// The engine's report display: every report of every component, with engine
// time, level and source, kept for tests and printed for users.
#pragma once

#include "abi/KOVAConstants.h"

#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

namespace host {

struct Report {
    KOVATimestamp time; ///< engine time, microseconds
    int32_t level;      ///< KOVA::Info .. KOVA::ParserEcho
    std::string source; ///< component instance name, or "pck-host"
    std::string text;
};

/// Thread-safe.
class ReportLog {
public:
    /// Prints each report on `echo` (null: keeps them silently) with times
    /// relative to `timeOrigin`.
    explicit ReportLog(std::FILE* echo = nullptr, KOVATimestamp timeOrigin = 0);

    void Add(KOVATimestamp time, int32_t level, std::string source, std::string text);
    void SetTimeOrigin(KOVATimestamp origin);

    std::vector<Report> Reports() const;
    /// True when a report from `source` (empty: any) contains `fragment`.
    bool Contains(const std::string& source, const std::string& fragment) const;
    /// Number of reports at `level` (from any source).
    size_t CountAtLevel(int32_t level) const;
    /// All reports as printed lines (for test failure messages).
    std::string Text() const;

    static const char* LevelName(int32_t level);

private:
    std::string Line(const Report& report) const;

    mutable std::mutex mutex_; ///< guards reports_ and timeOrigin_
    std::vector<Report> reports_;
    std::FILE* echo_;
    KOVATimestamp timeOrigin_;
};

} // namespace host
