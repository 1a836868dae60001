// Reading what a package file needs and exports from its ELF bytes: the
// libraries and symbol versions it requires, the symbols it exports, whether
// it is self-contained, and damaged files refused without reading outside
// them.
#include "PackageNeeds.h"
#include "elf/PackageElf.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <ostream>

using ::testing::Contains;
using ::testing::HasSubstr;

namespace {

std::vector<uint8_t> fileBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return { std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>() };
}

std::vector<std::string> listOf(const std::string& path)
{
    std::vector<std::string> names;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line[0] != '#')
            names.push_back(line);
    }
    return names;
}

} // namespace

TEST(PackageElf, AProgramLinkedWithTheSharedCxxRuntimeIsNotSelfContained)
{
    std::string why;
    const auto info = PackageElf::ReadFile("/proc/self/exe", why);
    ASSERT_TRUE(info) << why;
    EXPECT_THAT(info->needed, Contains("libstdc++.so.6"));
    const auto problems = PackageElf::SelfContainedProblems(*info, {});
    EXPECT_THAT(problems, Contains("needs libstdc++.so.6, which is not a library of glibc"));
    EXPECT_THAT(problems, Contains(HasSubstr("requires version GLIBCXX_3.4 of libstdc++.so.6")));
}

TEST(PackageElf, ThePackageExportsExactlyItsEntryPointsAndNeedsOnlyGlibc)
{
    std::string why;
    const auto info = PackageElf::ReadFile(QIR_PACKAGE_FILE, why);
    ASSERT_TRUE(info) << why;
    const auto entryPoints = listOf(QIR_PACKAGE_EXPORTS_FILE);
    // The engine's two, the C API's seventeen, VXQIR_ErrorToString, the
    // two of the progress header and the batch header's one.
    ASSERT_EQ(entryPoints.size(), 22u);
    EXPECT_EQ(info->exports.size(), 22u);
#if QIR_PACKAGES_SELF_CONTAINED
    EXPECT_THAT(PackageElf::SelfContainedProblems(*info, entryPoints), ::testing::IsEmpty());
    const auto glibc = PackageElf::HighestGlibcVersion(*info);
    ASSERT_TRUE(glibc);
    EXPECT_GE(*glibc, (PackageElf::GlibcVersion{ 2, 2 }));
#else
    // Sanitizer builds link the C++ runtime dynamically.
    EXPECT_THAT(PackageElf::SelfContainedProblems(*info, entryPoints, true), ::testing::IsEmpty());
#endif
}

TEST(PackageElf, NamesEachExportThatIsNotAnEntryPointAndEachEntryPointMissing)
{
    PackageElf::DynamicInfo info;
    info.needed = { "libc.so.6" };
    info.versionNeeds = { { "libc.so.6", { "GLIBC_2.2.5" } }, { "libgcc_s.so.1", { "GCC_3.0" } } };
    info.exports = { "KOVAPckInit", "helper" };
    EXPECT_THAT(PackageElf::SelfContainedProblems(info, { "KOVAPckInit", "KOVAGetModulesDefStruct" }),
                ::testing::ElementsAre("requires version GCC_3.0 of libgcc_s.so.1",
                                       "exports helper, which is not one of its entry points",
                                       "does not export its entry point KOVAGetModulesDefStruct"));
}

struct GlibcNameCase {
    const char* name;
    int major; ///< -1: not a glibc version
    int minor;
};

void PrintTo(const GlibcNameCase& c, std::ostream* os)
{
    *os << c.name;
}

class GlibcVersionName : public ::testing::TestWithParam<GlibcNameCase> { };

TEST_P(GlibcVersionName, IsReadAsMajorAndMinor)
{
    const auto version = PackageElf::ParseGlibcVersion(GetParam().name);
    if (GetParam().major < 0) {
        EXPECT_FALSE(version);
    } else {
        ASSERT_TRUE(version);
        EXPECT_EQ(version->major, GetParam().major);
        EXPECT_EQ(version->minor, GetParam().minor);
    }
}

INSTANTIATE_TEST_SUITE_P(, GlibcVersionName,
                         ::testing::Values(GlibcNameCase{ "GLIBC_2.34", 2, 34 }, GlibcNameCase{ "GLIBC_2.2.5", 2, 2 },
                                           GlibcNameCase{ "GLIBC_PRIVATE", -1, 0 },
                                           GlibcNameCase{ "GLIBCXX_3.4", -1, 0 }, GlibcNameCase{ "GLIBC_2", -1, 0 },
                                           GlibcNameCase{ "GLIBC_2.x", -1, 0 },
                                           GlibcNameCase{ "GLIBC_99999999999.1", -1, 0 }),
                         [](const auto& testCase) {
                             std::string name = testCase.param.name;
                             for (char& c : name)
                                 c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
                             return name;
                         });

TEST(PackageElf, KnowsTheGlibcOfTheEngineHostsOperatingSystems)
{
    EXPECT_EQ(PackageElf::GlibcOfOs("ubuntu2004"), (PackageElf::GlibcVersion{ 2, 31 }));
    EXPECT_EQ(PackageElf::GlibcOfOs("debian12"), (PackageElf::GlibcVersion{ 2, 36 }));
    EXPECT_FALSE(PackageElf::GlibcOfOs("plan9"));
}

// Cut or damaged copies of a small real shared library: each is either read
// or refused with a reason, and never read outside its bytes
// (AddressSanitizer watches).
TEST(PackageElf, DamagedFilesAreRefusedWithAReasonAndNeverReadOutside)
{
    const std::vector<uint8_t> whole = fileBytes(QIR_PLAIN_LIBRARY_FILE);
    ASSERT_GT(whole.size(), 1024u);
    std::string why;
    EXPECT_FALSE(PackageElf::Parse({}, why));
    EXPECT_EQ(why, "not an ELF file");
    std::vector<uint8_t> other = whole;
    other[4] = 1; // ELFCLASS32
    EXPECT_FALSE(PackageElf::Parse(other, why));
    EXPECT_EQ(why, "not a 64-bit little-endian ELF file");

    const size_t shoff = whole[0x28] | (size_t{ whole[0x29] } << 8) | (size_t{ whole[0x2a] } << 16);
    ASSERT_LT(shoff, whole.size());
    for (size_t length : { size_t{ 16 }, size_t{ 64 }, shoff / 2, shoff + 100, whole.size() - 1 }) {
        // A copy of exactly `length` bytes, so that a read past it is seen.
        const std::vector<uint8_t> cut(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(length));
        why.clear();
        EXPECT_FALSE(PackageElf::Parse(cut, why)) << length;
        EXPECT_FALSE(why.empty()) << length;
    }
    // Each byte of the section headers, and of the sections before them,
    // set to 0xff in turn.
    for (size_t at = 0x40; at < whole.size(); at += 3) {
        std::vector<uint8_t> damaged = whole;
        damaged[at] = 0xff;
        why.clear();
        if (!PackageElf::Parse(damaged, why)) {
            EXPECT_FALSE(why.empty()) << at;
        }
    }
}

struct MismatchCase {
    const char* name;
    const char* os; ///< null: no OS entry
    std::vector<std::string> versions;
    const char* warning; ///< empty: none
};

void PrintTo(const MismatchCase& c, std::ostream* os)
{
    *os << c.name;
}

class GlibcOfTheBlock : public ::testing::TestWithParam<MismatchCase> { };

TEST_P(GlibcOfTheBlock, IsComparedWithWhatThePackageNeeds)
{
    PackageInfo::Entries info;
    if (GetParam().os)
        info.items.emplace_back("OS", GetParam().os);
    PackageElf::DynamicInfo elf;
    elf.needed = { "libc.so.6" };
    elf.versionNeeds = { { "libc.so.6", GetParam().versions } };
    EXPECT_EQ(host::GlibcMismatch(info, elf), GetParam().warning);
}

INSTANTIATE_TEST_SUITE_P(
    , GlibcOfTheBlock,
    ::testing::Values(
        MismatchCase{ "NewerThanTheSystem",
                      "ubuntu2004",
                      { "GLIBC_2.2.5", "GLIBC_2.34", "GLIBC_2.17" },
                      "the information block says OS=ubuntu2004, whose glibc is 2.31, but the package needs glibc "
                      "2.34 (symbol version GLIBC_2.34): it will not load on that system; build it on ubuntu2004 "
                      "(see the README)" },
        MismatchCase{ "AsOldAsTheSystem", "ubuntu2004", { "GLIBC_2.2.5", "GLIBC_2.31" }, "" },
        MismatchCase{ "UnknownSystem", "solaris", { "GLIBC_2.34" }, "" },
        MismatchCase{ "NoOsEntry", nullptr, { "GLIBC_2.34" }, "" },
        MismatchCase{ "NoGlibcVersion", "ubuntu2004", { "GLIBC_PRIVATE" }, "" }),
    [](const auto& testCase) { return std::string(testCase.param.name); });
