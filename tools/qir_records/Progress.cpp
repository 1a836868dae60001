#include "Progress.h"

#include <cstdio>
#include <utility>

#include <unistd.h>

namespace qir::records {

namespace {
constexpr auto kInterval = std::chrono::milliseconds(500);
// Reading the clock for every record would cost more than the record.
constexpr uint64_t kCallsPerClockRead = 4096;
} // namespace

Progress::Progress(std::string label, uint64_t total_bytes, bool enabled, Clock clock)
    : label_(std::move(label))
    , total_(total_bytes)
    , enabled_(enabled)
    , clock_(std::move(clock))
    , last_(clock_())
{ }

Progress::~Progress()
{
    finish();
}

void Progress::update(uint64_t done_bytes, uint64_t records)
{
    if (!enabled_ || ++calls_ % kCallsPerClockRead != 0)
        return;
    const auto now = clock_();
    if (now - last_ < kInterval)
        return;
    last_ = now;
    const unsigned percent = total_ == 0 ? 100 : static_cast<unsigned>(done_bytes * 100 / total_);
    std::fprintf(stderr, "\r%s: %3u%% (%llu records)", label_.c_str(), percent,
                 static_cast<unsigned long long>(records));
    std::fflush(stderr);
    drawn_ = true;
    ++redraws_;
}

void Progress::finish()
{
    if (drawn_) {
        std::fprintf(stderr, "\r\033[K");
        std::fflush(stderr);
        drawn_ = false;
    }
}

bool Progress::stderr_is_terminal()
{
    return ::isatty(STDERR_FILENO) == 1;
}

} // namespace qir::records
