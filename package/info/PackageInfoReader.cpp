#include "info/PackageInfoReader.h"

#include "info/PackageInfoBlock.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>

namespace PackageInfo {

std::optional<std::string> Entries::Find(std::string_view key) const
{
    for (const auto& [k, v] : items) {
        if (k == key)
            return v;
    }
    return std::nullopt;
}

std::optional<Entries> ParseTrailingBlock(std::span<const uint8_t> tail, std::string& why)
{
    if (tail.size() < LengthFieldSize + MinimumBlockSize) {
        why = "too short for an information block (" + std::to_string(tail.size()) + " bytes)";
        return std::nullopt;
    }
    const uint8_t* lengthField = tail.data() + tail.size() - LengthFieldSize;
    const uint32_t length = static_cast<uint32_t>(lengthField[0]) | static_cast<uint32_t>(lengthField[1]) << 8 |
        static_cast<uint32_t>(lengthField[2]) << 16 | static_cast<uint32_t>(lengthField[3]) << 24;
    if (length < MinimumBlockSize || length > MaximumBlockSize || length > tail.size() - LengthFieldSize) {
        why = "the last 4 bytes give a block length of " + std::to_string(length) + ", which does not fit (expected " +
            std::to_string(MinimumBlockSize) + " to " +
            std::to_string(std::min<size_t>(MaximumBlockSize, tail.size() - LengthFieldSize)) + ")";
        return std::nullopt;
    }
    const auto block = tail.subspan(tail.size() - LengthFieldSize - length, length);
    const std::string_view text(reinterpret_cast<const char*>(block.data()), block.size());
    if (text.substr(0, Magic.size() + 1) != std::string_view("PACKAGE_INFO\0", Magic.size() + 1)) {
        why = "the block of " + std::to_string(length) + " bytes does not start with \"PACKAGE_INFO\"";
        return std::nullopt;
    }
    if (text.back() != '\0') {
        why = "the last text of the block is not NUL-terminated";
        return std::nullopt;
    }
    Entries entries;
    entries.blockLength = length;
    size_t offset = Magic.size() + 1;
    while (offset < text.size()) {
        const size_t end = text.find('\0', offset);
        const std::string_view entry = text.substr(offset, end - offset);
        const size_t equals = entry.find('=');
        if (equals == std::string_view::npos || equals == 0) {
            why = "entry at offset " + std::to_string(offset) + " of the block is not KEY=VALUE: \"" +
                std::string(entry) + "\"";
            return std::nullopt;
        }
        entries.items.emplace_back(std::string(entry.substr(0, equals)), std::string(entry.substr(equals + 1)));
        offset = end + 1;
    }
    return entries;
}

std::vector<std::string> CheckRequiredEntries(const Entries& entries)
{
    std::vector<std::string> problems;
    size_t lastPosition = 0;
    for (const std::string_view key : RequiredKeys) {
        const auto it = std::find_if(entries.items.begin(), entries.items.end(),
                                     [&](const auto& item) { return item.first == key; });
        if (it == entries.items.end()) {
            problems.push_back("entry " + std::string(key) + " is missing");
            continue;
        }
        const size_t position = static_cast<size_t>(it - entries.items.begin());
        if (position < lastPosition)
            problems.push_back("entry " + std::string(key) + " is out of order");
        lastPosition = std::max(lastPosition, position);
    }
    if (!entries.items.empty() && entries.items.back().first != "DESCRIPTION")
        problems.push_back("DESCRIPTION is not the last entry");
    if (const auto date = entries.Find("DATE")) {
        if (date->size() != 8 || !std::all_of(date->begin(), date->end(), [](char c) { return c >= '0' && c <= '9'; }))
            problems.push_back("DATE \"" + *date + "\" is not eight digits");
    }
    return problems;
}

std::optional<Entries> ReadFromFile(const std::string& path, std::string& why)
{
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in) {
        why = path + ": cannot open: " + std::strerror(errno);
        return std::nullopt;
    }
    const std::streamoff size = in.tellg();
    const std::streamoff take = std::min<std::streamoff>(size, MaximumBlockSize + LengthFieldSize);
    std::vector<uint8_t> tail(static_cast<size_t>(take));
    in.seekg(size - take);
    if (!in.read(reinterpret_cast<char*>(tail.data()), take)) {
        why = path + ": cannot read its last " + std::to_string(take) + " bytes";
        return std::nullopt;
    }
    std::string reason;
    auto entries = ParseTrailingBlock(tail, reason);
    if (!entries)
        why = path + ": no valid package information block: " + reason;
    return entries;
}

} // namespace PackageInfo
