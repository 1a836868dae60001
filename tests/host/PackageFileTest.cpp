// The built package files: their information block read back, the symbols
// they export, the handshake and the definitions they list; and the clear
// errors for files that are not packages.
#include "PackageLibrary.h"
#include "info/PackageInfoBlock.h"
#include "info/PackageInfoReader.h"
#include "info/PackageInfoWriter.h"
#include <ostream>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <set>

using ::testing::HasSubstr;

namespace {

std::set<std::string> exportedFunctions(const std::string& path)
{
    std::set<std::string> names;
    const std::string command = "nm -D --defined-only '" + path + "'";
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    if (!pipe)
        return names;
    char line[512];
    while (std::fgets(line, sizeof line, pipe.get())) {
        char type = 0;
        char name[400] = {};
        if (std::sscanf(line, "%*s %c %399s", &type, name) == 2 && (type == 'T' || type == 'W'))
            names.insert(name);
    }
    return names;
}

} // namespace

TEST(PackageFile, EndsWithItsInformationBlock)
{
    std::string why;
    const auto info = PackageInfo::ReadFromFile(QIR_PACKAGE_FILE, why);
    ASSERT_TRUE(info) << why;
    EXPECT_TRUE(PackageInfo::CheckRequiredEntries(*info).empty());
    EXPECT_EQ(info->Find("FILENAME"), "tavrik_qir_varnel.pck");
    EXPECT_EQ(info->Find("OS"), "ubuntu2004");
    EXPECT_EQ(info->Find("ARCH"), "x86_64");
    EXPECT_EQ(info->Find("VERSION"), "3.0.0");
    EXPECT_EQ(info->Find("TARGET"), "tavrik");
    EXPECT_EQ(info->items.back().second, "Package for sending image data to the QIR Unit.");
    EXPECT_EQ(info->Find("DATE")->size(), 8u);
}

TEST(PackageFile, ExportsOnlyTheEntryPointsAndTheUnitClientFunctions)
{
    const std::set<std::string> expected = { "KOVAPckInit",
                                             "KOVAGetModulesDefStruct",
                                             "VXQIR_IsInputInterfaceAvailable",
                                             "VXQIR_RegisterOutputChannel",
                                             "VXQIR_UnregisterOutputChannel",
                                             "VXQIR_IsOutputChannelAvailable",
                                             "VXQIR_InitOutputChannel",
                                             "VXQIR_SetReplayStartTime",
                                             "VXQIR_SetReplayOffset",
                                             "VXQIR_SetReplayStopTime",
                                             "VXQIR_GetCurrentState",
                                             "VXQIR_GetReplayStartTime",
                                             "VXQIR_GetReplayOffset",
                                             "VXQIR_GetReplayStopTime",
                                             "VXQIR_GetFrameSize",
                                             "VXQIR_ReplayStreamData",
                                             "VXQIR_ResetChannel",
                                             "VXQIR_ClearStatusFlags",
                                             "VXQIR_ErrorToString",
                                             "VXQIR_GetChannelProgress",
                                             "VXQIR_GetChannelProgressAt",
                                             "VXQIR_ReplayStreamBlocks" };
    EXPECT_EQ(exportedFunctions(QIR_PACKAGE_FILE), expected);
}

TEST(PackageFile, HandshakesAndListsOneDefinitionPerModuleMarker)
{
    std::string why;
    auto package = host::PackageLibrary::Open(QIR_PACKAGE_FILE, why);
    ASSERT_TRUE(package) << why;
    EXPECT_EQ(package->HandshakeResult(), 4);
    // Every component registered in the package also carries its marker.
    EXPECT_EQ(package->Definitions().size(), package->Markers().size());
}

TEST(PackageFile, OffersTheUnitClientAndNoOtherThanThePackagesComponents)
{
    std::string why;
    auto package = host::PackageLibrary::Open(QIR_PACKAGE_FILE, why);
    ASSERT_TRUE(package) << why;
    std::vector<std::string> names;
    for (const KOVAComponentDefinition* definition : package->Definitions())
        names.emplace_back(definition->name);
    EXPECT_THAT(names, ::testing::Contains("VxQirUnitClient"));
    EXPECT_THAT(names, ::testing::Each(::testing::AnyOf("VxQirUnitClient", "VxQirImageConverter")));
    EXPECT_THAT(package->Markers(), ::testing::Contains("VxQirUnitClient 3.1.2"));
}

TEST(PackageFile, TheTestComponentsPackageOffersItsSevenComponents)
{
    std::string why;
    auto package = host::PackageLibrary::Open(QIR_TEST_COMPONENTS_FILE, why);
    ASSERT_TRUE(package) << why;
    ASSERT_EQ(package->Definitions().size(), 7u);
    EXPECT_THAT(package->Markers(),
                ::testing::ElementsAre("HostCodedImageSource 1.0.0", "HostCsi2ChunkSource 1.0.0",
                                       "HostCsi2GrabberSource 1.0.0", "HostInt64Source 1.0.0",
                                       "HostPatternSource 1.0.0", "HostRawFrameSource 1.0.0", "HostSampleSink 1.0.0"));
    EXPECT_EQ(exportedFunctions(QIR_TEST_COMPONENTS_FILE),
              (std::set<std::string>{ "KOVAPckInit", "KOVAGetModulesDefStruct" }));
}

struct BadPackageCase {
    const char* name;
    const char* path;
    const char* error;
};

/// Test names are enough to identify a case in messages.
[[maybe_unused]] static void PrintTo(const BadPackageCase& c, std::ostream* os)
{
    *os << c.name;
}

class NotAPackage : public ::testing::TestWithParam<BadPackageCase> { };

TEST_P(NotAPackage, IsRefusedWithAClearError)
{
    std::string why;
    EXPECT_FALSE(host::PackageLibrary::Open(GetParam().path, why));
    EXPECT_THAT(why, HasSubstr(GetParam().error));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, NotAPackage,
    ::testing::Values(
        BadPackageCase{ "MissingFile", "/nonexistent/x.pck", "/nonexistent/x.pck: cannot open" },
        BadPackageCase{ "TextFile", "/etc/hostname", "no valid package information block" },
        BadPackageCase{ "SharedLibraryWithoutBlock", QIR_PLAIN_LIBRARY_FILE, "no valid package information block" },
        BadPackageCase{ "BlockButNoEntryPoints", QIR_ENTRYLESS_PACKAGE_FILE,
                        "not a package: it does not export KOVAPckInit" },
        BadPackageCase{ "RefusedKey", QIR_REFUSING_PACKAGE_FILE,
                        "incompatible package: KOVAPckInit refused the engine's key 0x80538 (it answered 0)" }),
    [](const auto& testCase) { return std::string(testCase.param.name); });

TEST(PackageInfoBlock, RoundTripsThroughTheWriterAndReader)
{
    const std::vector<std::pair<std::string, std::string>> entries = { { "FILENAME", "x.pck" },
                                                                       { "DESCRIPTION", "d" } };
    std::vector<uint8_t> file = { 0x7f, 'E', 'L', 'F', 0, 1, 2 };
    const auto block = PackageInfo::BuildTrailingBlock(entries);
    file.insert(file.end(), block.begin(), block.end());
    std::string why;
    const auto read = PackageInfo::ParseTrailingBlock(file, why);
    ASSERT_TRUE(read) << why;
    EXPECT_EQ(read->items, entries);
    EXPECT_EQ(read->blockLength, block.size() - 4);
}

struct BadBlockCase {
    const char* name;
    std::vector<uint8_t> bytes;
    const char* error;
};

/// Test names are enough to identify a case in messages.
[[maybe_unused]] static void PrintTo(const BadBlockCase& c, std::ostream* os)
{
    *os << c.name;
}

class BadInformationBlock : public ::testing::TestWithParam<BadBlockCase> { };

TEST_P(BadInformationBlock, IsRefusedWithoutReadingOutsideTheFile)
{
    std::string why;
    EXPECT_FALSE(PackageInfo::ParseTrailingBlock(GetParam().bytes, why));
    EXPECT_THAT(why, HasSubstr(GetParam().error));
}

namespace {
std::vector<uint8_t> withLength(std::string text, uint32_t length)
{
    std::vector<uint8_t> bytes(text.begin(), text.end());
    for (int i = 0; i < 4; ++i)
        bytes.push_back(static_cast<uint8_t>(length >> (8 * i)));
    return bytes;
}
const std::string kMagic("PACKAGE_INFO\0", 13);
} // namespace

INSTANTIATE_TEST_SUITE_P(
    Cases, BadInformationBlock,
    ::testing::Values(BadBlockCase{ "Empty", {}, "too short" },
                      BadBlockCase{ "LengthBeyondTheFile", withLength(kMagic, 14),
                                    "block length of 14, which does not fit" },
                      BadBlockCase{ "LengthHuge", withLength(kMagic, 0xFFFFFFFF), "which does not fit" },
                      BadBlockCase{ "WrongMagic", withLength(std::string("PACKAGE_INFX\0", 13), 13),
                                    "does not start with \"PACKAGE_INFO\"" },
                      BadBlockCase{ "EntryWithoutEquals", withLength(kMagic + std::string("NOEQUALS\0", 9), 22),
                                    "entry at offset 13 of the block is not KEY=VALUE" },
                      BadBlockCase{ "LastTextNotTerminated", withLength(kMagic + "A=B", 16), "not NUL-terminated" }),
    [](const auto& testCase) { return std::string(testCase.param.name); });

TEST(PackageInfoBlock, MissingAndMisorderedEntriesAreListed)
{
    PackageInfo::Entries entries;
    entries.items = {
        { "OS", "x" }, { "FILENAME", "f" }, { "DATE", "2024" }, { "DESCRIPTION", "d" }, { "EXTRA", "e" }
    };
    const auto problems = PackageInfo::CheckRequiredEntries(entries);
    EXPECT_THAT(problems, ::testing::Contains("entry ARCH is missing"));
    EXPECT_THAT(problems, ::testing::Contains("entry OS is out of order"));
    EXPECT_THAT(problems, ::testing::Contains("DESCRIPTION is not the last entry"));
    EXPECT_THAT(problems, ::testing::Contains("DATE \"2024\" is not eight digits"));
}
