// Counted.h - a count with its noun, in the singular or the plural.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace qir::replay {

/// "1 frame", "0 frames", "2 frames": `count` and `singular`, or `plural`
/// for any count but 1 (default: `singular` with an "s"). Thread-safe.
std::string counted(uint64_t count, std::string_view singular, std::string_view plural = {});

/// The noun alone, as counted() would put it after `count`.
std::string nounFor(uint64_t count, std::string_view singular, std::string_view plural = {});

} // namespace qir::replay
