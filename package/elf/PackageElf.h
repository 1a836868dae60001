// What a package's ELF file asks of the system that loads it: the shared
// libraries it needs, the symbol versions it requires from them, and the
// symbols it exports. Read from the file's bytes, without loading it.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace PackageElf {

/// The versions one needed library must provide ("libc.so.6": GLIBC_2.2.5,
/// GLIBC_2.34, ...), in file order.
struct VersionNeed {
    std::string file;
    std::vector<std::string> versions;
};

struct DynamicInfo {
    std::vector<std::string> needed;       ///< DT_NEEDED entries, in order
    std::vector<VersionNeed> versionNeeds; ///< the version requirements section
    std::vector<std::string> exports;      ///< defined global or weak dynamic symbols, sorted
};

/// A glibc symbol version "GLIBC_2.34" as numbers.
struct GlibcVersion {
    int major = 0;
    int minor = 0;
    auto operator<=>(const GlibcVersion&) const = default;
    /// "2.34"
    std::string Text() const;
};

/// Parses the 64-bit little-endian ELF shared object in `bytes`. Reads only
/// inside `bytes`. On failure returns nothing with `why` naming what is wrong
/// (not an ELF file, another class or byte order, a section or string table
/// outside the file). Thread-safe (no shared state).
std::optional<DynamicInfo> Parse(std::span<const uint8_t> bytes, std::string& why);

/// Reads the file at `path` and parses it; `why` names the file on failure.
std::optional<DynamicInfo> ReadFile(const std::string& path, std::string& why);

/// The highest GLIBC_x.y version the file requires, from any library; none
/// when it requires no glibc version.
std::optional<GlibcVersion> HighestGlibcVersion(const DynamicInfo& info);

/// "GLIBC_2.34" -> {2, 34}; nothing for other names ("GLIBC_PRIVATE").
std::optional<GlibcVersion> ParseGlibcVersion(const std::string& name);

/// The glibc a Linux distribution entry of an information block ("OS")
/// stands for: "ubuntu2004" -> 2.31. Nothing for an unknown entry.
std::optional<GlibcVersion> GlibcOfOs(const std::string& os);

/// True for the shared libraries of glibc itself (libc.so.6, libm.so.6,
/// the dynamic loader, ...), which every Linux host has.
bool IsGlibcLibrary(const std::string& soname);

/// What keeps `info` from being a self-contained package: a needed library
/// that is not glibc's, a required version of another library (GLIBCXX_,
/// CXXABI_, GCC_, ...), a symbol it exports that is not in
/// `expectedExports`, or one of `expectedExports` it does not export. One
/// text per problem; empty when there is none. With `exportsOnly`, only the
/// exports are compared.
std::vector<std::string> SelfContainedProblems(const DynamicInfo& info, const std::vector<std::string>& expectedExports,
                                               bool exportsOnly = false);

} // namespace PackageElf
