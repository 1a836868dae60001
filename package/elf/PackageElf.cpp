#include "elf/PackageElf.h"

#include <elf.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <type_traits>

namespace PackageElf {
namespace {

/// Copies a T from `offset` of `bytes`; false (and nothing read) when it
/// does not lie wholly inside.
template <typename T>
bool readAt(std::span<const uint8_t> bytes, uint64_t offset, T& out)
{
    static_assert(std::is_trivially_copyable_v<T>);
    if (offset > bytes.size() || bytes.size() - offset < sizeof(T))
        return false;
    std::memcpy(&out, bytes.data() + offset, sizeof(T));
    return true;
}

/// The bytes of a section, or an empty span with `ok` false when the
/// section does not lie inside the file. SHT_NOBITS sections have no bytes.
std::span<const uint8_t> sectionBytes(std::span<const uint8_t> bytes, const Elf64_Shdr& section, bool& ok)
{
    if (section.sh_type == SHT_NOBITS)
        return {};
    if (section.sh_offset > bytes.size() || bytes.size() - section.sh_offset < section.sh_size) {
        ok = false;
        return {};
    }
    return bytes.subspan(section.sh_offset, section.sh_size);
}

/// The NUL-terminated string at `offset` of a string table; false when it
/// starts outside or runs past the table's end.
bool stringAt(std::span<const uint8_t> table, uint64_t offset, std::string& out)
{
    if (offset >= table.size())
        return false;
    const auto* start = reinterpret_cast<const char*>(table.data() + offset);
    const void* end = std::memchr(start, '\0', table.size() - offset);
    if (!end)
        return false;
    out.assign(start, static_cast<const char*>(end));
    return true;
}

class Parser {
public:
    Parser(std::span<const uint8_t> bytes, std::string& why) : bytes_(bytes), why_(why) { }

    std::optional<DynamicInfo> Run()
    {
        Elf64_Ehdr header{};
        if (!readAt(bytes_, 0, header) || std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0)
            return Fail("not an ELF file");
        if (header.e_ident[EI_CLASS] != ELFCLASS64 || header.e_ident[EI_DATA] != ELFDATA2LSB)
            return Fail("not a 64-bit little-endian ELF file");
        if (header.e_shentsize != sizeof(Elf64_Shdr))
            return Fail("unexpected section header size " + std::to_string(header.e_shentsize));
        for (uint16_t i = 0; i < header.e_shnum; ++i) {
            Elf64_Shdr section{};
            if (!readAt(bytes_, header.e_shoff + uint64_t{ i } * sizeof(Elf64_Shdr), section))
                return Fail("section header " + std::to_string(i) + " lies outside the file");
            sections_.push_back(section);
        }
        DynamicInfo info;
        for (const Elf64_Shdr& section : sections_) {
            bool ok = true;
            if (section.sh_type == SHT_DYNAMIC)
                ok = ReadNeeded(section, info);
            else if (section.sh_type == SHT_GNU_verneed)
                ok = ReadVersionNeeds(section, info);
            else if (section.sh_type == SHT_DYNSYM)
                ok = ReadExports(section, info);
            if (!ok)
                return std::nullopt;
        }
        std::sort(info.exports.begin(), info.exports.end());
        return info;
    }

private:
    std::optional<DynamicInfo> Fail(const std::string& reason)
    {
        why_ = reason;
        return std::nullopt;
    }

    /// The string table a section links to.
    bool LinkedStrings(const Elf64_Shdr& section, std::span<const uint8_t>& strings, const char* what)
    {
        bool ok = section.sh_link < sections_.size();
        if (ok)
            strings = sectionBytes(bytes_, sections_[section.sh_link], ok);
        if (!ok)
            why_ = std::string("the string table of the ") + what + " lies outside the file";
        return ok;
    }

    bool Section(const Elf64_Shdr& section, std::span<const uint8_t>& data, const char* what)
    {
        bool ok = true;
        data = sectionBytes(bytes_, section, ok);
        if (!ok)
            why_ = std::string("the ") + what + " lies outside the file";
        return ok;
    }

    bool ReadNeeded(const Elf64_Shdr& section, DynamicInfo& info)
    {
        std::span<const uint8_t> data, strings;
        if (!Section(section, data, "dynamic section") || !LinkedStrings(section, strings, "dynamic section"))
            return false;
        for (size_t at = 0; at + sizeof(Elf64_Dyn) <= data.size(); at += sizeof(Elf64_Dyn)) {
            Elf64_Dyn entry{};
            readAt(data, at, entry);
            if (entry.d_tag == DT_NULL)
                break;
            if (entry.d_tag != DT_NEEDED)
                continue;
            std::string name;
            if (!stringAt(strings, entry.d_un.d_val, name)) {
                why_ = "a needed library's name lies outside its string table";
                return false;
            }
            info.needed.push_back(name);
        }
        return true;
    }

    bool ReadVersionNeeds(const Elf64_Shdr& section, DynamicInfo& info)
    {
        std::span<const uint8_t> data, strings;
        if (!Section(section, data, "version requirements") || !LinkedStrings(section, strings, "version requirements"))
            return false;
        // A chain of files, each with a chain of versions; sh_info counts
        // the files. Each step must move forward, so a loop cannot cycle.
        uint64_t at = 0;
        for (uint32_t file = 0; file < section.sh_info; ++file) {
            Elf64_Verneed need{};
            VersionNeed entry;
            if (!readAt(data, at, need) || !stringAt(strings, need.vn_file, entry.file)) {
                why_ = "a version requirement lies outside its section";
                return false;
            }
            uint64_t auxAt = at + need.vn_aux;
            for (uint16_t v = 0; v < need.vn_cnt; ++v) {
                Elf64_Vernaux aux{};
                std::string name;
                if (!readAt(data, auxAt, aux) || !stringAt(strings, aux.vna_name, name)) {
                    why_ = "a required version of " + entry.file + " lies outside its section";
                    return false;
                }
                entry.versions.push_back(name);
                if (aux.vna_next == 0)
                    break;
                auxAt += aux.vna_next;
            }
            info.versionNeeds.push_back(std::move(entry));
            if (need.vn_next == 0)
                break;
            at += need.vn_next;
        }
        return true;
    }

    bool ReadExports(const Elf64_Shdr& section, DynamicInfo& info)
    {
        std::span<const uint8_t> data, strings;
        if (!Section(section, data, "dynamic symbol table") || !LinkedStrings(section, strings, "dynamic symbol table"))
            return false;
        for (size_t at = sizeof(Elf64_Sym); at + sizeof(Elf64_Sym) <= data.size(); at += sizeof(Elf64_Sym)) {
            Elf64_Sym symbol{};
            readAt(data, at, symbol);
            const unsigned binding = ELF64_ST_BIND(symbol.st_info);
            const unsigned visibility = ELF64_ST_VISIBILITY(symbol.st_other);
            if (symbol.st_shndx == SHN_UNDEF || (binding != STB_GLOBAL && binding != STB_WEAK) ||
                (visibility != STV_DEFAULT && visibility != STV_PROTECTED))
                continue;
            std::string name;
            if (!stringAt(strings, symbol.st_name, name)) {
                why_ = "a symbol's name lies outside its string table";
                return false;
            }
            if (!name.empty())
                info.exports.push_back(name);
        }
        return true;
    }

    std::span<const uint8_t> bytes_;
    std::string& why_;
    std::vector<Elf64_Shdr> sections_;
};

} // namespace

std::string GlibcVersion::Text() const
{
    return std::to_string(major) + "." + std::to_string(minor);
}

std::optional<DynamicInfo> Parse(std::span<const uint8_t> bytes, std::string& why)
{
    return Parser(bytes, why).Run();
}

std::optional<DynamicInfo> ReadFile(const std::string& path, std::string& why)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        why = path + ": cannot open the file";
        return std::nullopt;
    }
    const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    auto info = Parse(bytes, why);
    if (!info)
        why = path + ": " + why;
    return info;
}

std::optional<GlibcVersion> ParseGlibcVersion(const std::string& name)
{
    static constexpr std::string_view kPrefix = "GLIBC_";
    if (name.compare(0, kPrefix.size(), kPrefix) != 0)
        return std::nullopt;
    GlibcVersion version;
    int* parts[] = { &version.major, &version.minor };
    size_t at = kPrefix.size();
    for (size_t i = 0; i < 2; ++i) {
        size_t digits = 0;
        int value = 0;
        while (at < name.size() && name[at] >= '0' && name[at] <= '9' && digits < 6) {
            value = value * 10 + (name[at] - '0');
            ++at;
            ++digits;
        }
        if (digits == 0)
            return std::nullopt;
        *parts[i] = value;
        if (i == 0 && (at >= name.size() || name[at] != '.'))
            return std::nullopt;
        if (i == 0)
            ++at;
    }
    // "GLIBC_2.2.5": a third number does not change the order that matters.
    if (at < name.size() && name[at] != '.')
        return std::nullopt;
    return version;
}

std::optional<GlibcVersion> HighestGlibcVersion(const DynamicInfo& info)
{
    std::optional<GlibcVersion> highest;
    for (const VersionNeed& need : info.versionNeeds) {
        for (const std::string& name : need.versions) {
            const auto version = ParseGlibcVersion(name);
            if (version && (!highest || *version > *highest))
                highest = version;
        }
    }
    return highest;
}

std::optional<GlibcVersion> GlibcOfOs(const std::string& os)
{
    struct Known {
        const char* os;
        GlibcVersion glibc;
    };
    static constexpr Known kKnown[] = {
        { .os = "ubuntu1804", .glibc = { 2, 27 } }, { .os = "ubuntu2004", .glibc = { 2, 31 } },
        { .os = "ubuntu2204", .glibc = { 2, 35 } }, { .os = "ubuntu2404", .glibc = { 2, 39 } },
        { .os = "debian11", .glibc = { 2, 31 } },   { .os = "debian12", .glibc = { 2, 36 } },
    };
    for (const Known& known : kKnown) {
        if (os == known.os)
            return known.glibc;
    }
    return std::nullopt;
}

bool IsGlibcLibrary(const std::string& soname)
{
    static constexpr std::string_view kGlibc[] = {
        "libc.so.6",  "libm.so.6",      "libpthread.so.0", "libdl.so.2",
        "librt.so.1", "libresolv.so.2", "libutil.so.1",    "ld-linux-x86-64.so.2",
    };
    return std::find(std::begin(kGlibc), std::end(kGlibc), soname) != std::end(kGlibc);
}

std::vector<std::string> SelfContainedProblems(const DynamicInfo& info, const std::vector<std::string>& expectedExports,
                                               bool exportsOnly)
{
    std::vector<std::string> problems;
    if (!exportsOnly) {
        for (const std::string& needed : info.needed) {
            if (!IsGlibcLibrary(needed))
                problems.push_back("needs " + needed + ", which is not a library of glibc");
        }
        for (const VersionNeed& need : info.versionNeeds) {
            for (const std::string& version : need.versions) {
                if (!IsGlibcLibrary(need.file) || !version.starts_with("GLIBC_"))
                    problems.push_back("requires version " + version + " of " + need.file);
            }
        }
    }
    std::vector<std::string> expected = expectedExports;
    std::sort(expected.begin(), expected.end());
    for (const std::string& name : info.exports) {
        if (!std::binary_search(expected.begin(), expected.end(), name))
            problems.push_back("exports " + name + ", which is not one of its entry points");
    }
    for (const std::string& name : expected) {
        if (!std::binary_search(info.exports.begin(), info.exports.end(), name))
            problems.push_back("does not export its entry point " + name);
    }
    return problems;
}

} // namespace PackageElf
