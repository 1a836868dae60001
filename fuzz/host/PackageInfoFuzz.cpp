// Fuzz target: the package information block reader on arbitrary file tails.
#include "info/PackageInfoReader.h"

#include <cstddef>
#include <cstdint>
#include <span>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string why;
    const auto entries = PackageInfo::ParseTrailingBlock(std::span<const uint8_t>(data, size), why);
    if (entries)
        PackageInfo::CheckRequiredEntries(*entries);
    else if (why.empty())
        __builtin_trap(); // a refusal must say why
    return 0;
}
