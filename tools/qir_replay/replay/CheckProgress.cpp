#include "CheckProgress.h"

#include <filesystem>
#include <unistd.h>

namespace qir::replay {

std::string checkProgressLine(const std::string& path, uint64_t done, uint64_t total)
{
    char text[96];
    std::snprintf(text, sizeof text, ": %.0f %% of %.0f MB",
                  total > 0 ? static_cast<double>(done) * 100.0 / static_cast<double>(total) : 100.0,
                  static_cast<double>(total) / 1e6);
    return "checking " + std::filesystem::path(path).filename().string() + text;
}

CheckProgress::CheckProgress(std::FILE* out, bool quiet) : out_(out), quiet_(quiet), live_(::isatty(::fileno(out)) == 1)
{ }

void CheckProgress::begin(const std::string& path)
{
    path_ = path;
    began_ = std::chrono::steady_clock::now();
    last_.reset();
    shown_ = false;
}

void CheckProgress::update(uint64_t done, uint64_t total)
{
    if (quiet_)
        return;
    const auto now = std::chrono::steady_clock::now();
    if (now - began_ < std::chrono::milliseconds(500))
        return;
    const auto every = live_ ? std::chrono::milliseconds(200) : std::chrono::milliseconds(2000);
    if (last_ && now - *last_ < every)
        return;
    last_ = now;
    shown_ = true;
    const std::string line = checkProgressLine(path_, done, total);
    if (live_)
        std::fprintf(out_, "\r\033[K%s", line.c_str());
    else
        std::fprintf(out_, "%s\n", line.c_str());
    std::fflush(out_);
}

void CheckProgress::end()
{
    if (shown_ && live_) {
        std::fputs("\r\033[K", out_);
        std::fflush(out_);
    }
    shown_ = false;
}

} // namespace qir::replay
