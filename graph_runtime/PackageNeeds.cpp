#include "PackageNeeds.h"

namespace host {

std::string NeedsText(const PackageElf::DynamicInfo& elf)
{
    std::string text;
    for (const auto& name : elf.needed)
        text += (text.empty() ? "" : ", ") + name;
    if (text.empty())
        text = "no shared library";
    const auto glibc = PackageElf::HighestGlibcVersion(elf);
    if (glibc)
        text += " (glibc " + glibc->Text() + " or newer)";
    return text;
}

std::string GlibcMismatch(const PackageInfo::Entries& info, const PackageElf::DynamicInfo& elf)
{
    const auto os = info.Find("OS");
    const auto needed = PackageElf::HighestGlibcVersion(elf);
    if (!os || !needed)
        return {};
    const auto available = PackageElf::GlibcOfOs(*os);
    if (!available || *needed <= *available)
        return {};
    return "the information block says OS=" + *os + ", whose glibc is " + available->Text() +
        ", but the package needs glibc " + needed->Text() + " (symbol version GLIBC_" + needed->Text() +
        "): it will not load on that system; build it on " + *os + " (see the README)";
}

} // namespace host
