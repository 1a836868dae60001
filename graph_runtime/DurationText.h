// Durations as users write them: "2s", "500ms", "1.5 s", "250us", "3min".
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace host {

/// Microseconds of `text`: a non-negative number followed by one of the
/// units us, ms, s, min, h (blanks allowed between them). Nothing for
/// anything else or for a result beyond about 290,000 years.
std::optional<int64_t> ParseDurationUs(std::string_view text);

} // namespace host
