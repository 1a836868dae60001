// CheckProgress.h - shows how far the recordings have been read and checked
// before a replay, for files that take more than a moment.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

namespace qir::replay {

/// "checking NAME: P % of T MB" for one recording being read.
std::string checkProgressLine(const std::string& path, uint64_t done, uint64_t total);

/// Shows the check of each recording on `out` once it has taken 0.5 s: on a
/// terminal redrawn in place at most 5 times a second (and cleared when
/// done), otherwise a plain line every 2 s; never when quiet. Used on one
/// thread.
class CheckProgress {
public:
    CheckProgress(std::FILE* out, bool quiet);
    /// Clears a line left on the terminal (a check that ended in an error).
    ~CheckProgress() { end(); }
    CheckProgress(const CheckProgress&) = delete;
    CheckProgress& operator=(const CheckProgress&) = delete;

    /// A recording's check began.
    void begin(const std::string& path);
    /// `done` of `total` bytes of the current recording are checked.
    void update(uint64_t done, uint64_t total);
    /// The current recording's check ended.
    void end();

private:
    std::FILE* out_;
    bool quiet_;
    bool live_;
    bool shown_ = false;
    std::string path_;
    std::chrono::steady_clock::time_point began_;
    std::optional<std::chrono::steady_clock::time_point> last_;
};

} // namespace qir::replay
