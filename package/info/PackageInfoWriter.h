// Builds the information block appended to a package file.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace PackageInfo {

/// The text block for `entries` (KEY, VALUE) followed by its length field,
/// ready to be appended to a shared-library image. Keys must be non-empty
/// and free of "=" and NUL, values free of NUL (std::invalid_argument).
std::vector<uint8_t> BuildTrailingBlock(const std::vector<std::pair<std::string, std::string>>& entries);

} // namespace PackageInfo
