// Fuzz target: reading a package's libraries, symbol versions and exports
// from arbitrary bytes given as an ELF file.
#include "elf/PackageElf.h"

#include <cstddef>
#include <cstdint>
#include <span>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string why;
    const auto info = PackageElf::Parse(std::span<const uint8_t>(data, size), why);
    if (info) {
        PackageElf::HighestGlibcVersion(*info);
        PackageElf::SelfContainedProblems(*info, { "KOVAPckInit" });
    } else if (why.empty()) {
        __builtin_trap(); // a refusal must say why
    }
    return 0;
}
