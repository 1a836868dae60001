// Reads and checks the information block at the end of a package file.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace PackageInfo {

/// The entries of a block, in file order.
struct Entries {
    std::vector<std::pair<std::string, std::string>> items;
    uint32_t blockLength = 0;

    /// Value of `key`, or nothing.
    std::optional<std::string> Find(std::string_view key) const;
};

/// Parses the block at the end of `fileTail` (the last bytes of a file, or
/// the whole file). Never reads outside `fileTail`. On failure returns
/// nothing and sets `why` (what is wrong and at which offset from the end).
std::optional<Entries> ParseTrailingBlock(std::span<const uint8_t> fileTail, std::string& why);

/// Checks the entries a package must give and their order; returns the
/// problems found (empty when the block is complete).
std::vector<std::string> CheckRequiredEntries(const Entries& entries);

/// Reads the end of the file at `path` and parses its block. On failure
/// returns nothing and sets `why` (naming the file).
std::optional<Entries> ReadFromFile(const std::string& path, std::string& why);

} // namespace PackageInfo
