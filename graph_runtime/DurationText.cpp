#include "DurationText.h"

#include <charconv>
#include <cmath>
#include <string>

namespace host {

std::optional<int64_t> ParseDurationUs(std::string_view text)
{
    while (!text.empty() && text.front() == ' ')
        text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ')
        text.remove_suffix(1);
    double number = 0.0;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), number);
    if (result.ec != std::errc() || !std::isfinite(number) || number < 0)
        return std::nullopt;
    std::string_view unit(result.ptr, static_cast<size_t>(text.data() + text.size() - result.ptr));
    while (!unit.empty() && unit.front() == ' ')
        unit.remove_prefix(1);
    double scale = 0;
    if (unit == "us")
        scale = 1;
    else if (unit == "ms")
        scale = 1e3;
    else if (unit == "s")
        scale = 1e6;
    else if (unit == "min")
        scale = 60e6;
    else if (unit == "h")
        scale = 3600e6;
    else
        return std::nullopt;
    const double us = number * scale;
    if (us > 9.0e18)
        return std::nullopt;
    return static_cast<int64_t>(std::llround(us));
}

} // namespace host
