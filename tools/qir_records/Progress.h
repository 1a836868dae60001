// Progress.h - a progress line on standard error for long runs.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

namespace qir::records {

/// Shows "LABEL: 42% (N records)" on one terminal line, rewritten at most
/// every half second, and clears it at the end. Disabled, it prints nothing.
/// The clock is injectable for tests. Thread-bound.
class Progress {
public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;

    Progress(std::string label, uint64_t total_bytes, bool enabled, Clock clock = std::chrono::steady_clock::now);
    ~Progress();

    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    /// Reports that `done_bytes` of the total and `records` records are done.
    void update(uint64_t done_bytes, uint64_t records);

    /// Clears the line; called by the destructor too.
    void finish();

    /// Number of lines drawn so far.
    uint64_t redraws() const noexcept { return redraws_; }

    /// True when standard error is a terminal (where progress is shown by
    /// default).
    static bool stderr_is_terminal();

private:
    std::string label_;
    uint64_t total_;
    bool enabled_;
    Clock clock_;
    std::chrono::steady_clock::time_point last_;
    uint64_t calls_ = 0;
    uint64_t redraws_ = 0;
    bool drawn_ = false;
};

} // namespace qir::records
