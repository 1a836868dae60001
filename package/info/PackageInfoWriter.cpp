#include "info/PackageInfoWriter.h"

#include "info/PackageInfoBlock.h"

#include <stdexcept>

namespace PackageInfo {

std::vector<uint8_t> BuildTrailingBlock(const std::vector<std::pair<std::string, std::string>>& entries)
{
    std::string text(Magic);
    text.push_back('\0');
    for (const auto& [key, value] : entries) {
        if (key.empty() || key.find('=') != std::string::npos || key.find('\0') != std::string::npos ||
            value.find('\0') != std::string::npos)
            throw std::invalid_argument("bad information entry \"" + key + "\"");
        text += key + "=" + value;
        text.push_back('\0');
    }
    if (text.size() > MaximumBlockSize)
        throw std::invalid_argument("information block of " + std::to_string(text.size()) + " bytes is too long");
    std::vector<uint8_t> block(text.begin(), text.end());
    const auto length = static_cast<uint32_t>(text.size());
    for (size_t i = 0; i < LengthFieldSize; ++i)
        block.push_back(static_cast<uint8_t>(length >> (8 * i)));
    return block;
}

} // namespace PackageInfo
