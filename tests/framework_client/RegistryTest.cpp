// The module registry and both package entry points, on the modules this
// test program registers while it loads: group TestGroupA with two modules,
// group TestGroupB with one module and a child group with one more.
#include "TestKernel.h"
#include "abi/KOVAPackageEntry.h"
#include "registry/KOVAModuleManagement.h"
#include "registry/KOVAPrivate.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <memory>
#include <sys/resource.h>
#include <unistd.h>

namespace {

KOVAComponentDefinition named(const char* name)
{
    KOVAComponentDefinition definition{};
    definition.name = name;
    definition.version = "1.0.0";
    return definition;
}

std::atomic<int> gRegistered{ 0 };
void countRegistration(void*)
{
    ++gRegistered;
}

KOVAComponentDefinition gDefinitionA1 = named("A1");
KOVAComponentDefinition gDefinitionA2 = named("A2");
KOVAComponentDefinition gDefinitionB1 = named("B1");
KOVAComponentDefinition gDefinitionChild = named("C1");

const KOVAModuleDefinition gModuleA1("ModuleA1", "TestGroupA", nullptr, &gDefinitionA1, &countRegistration, nullptr);
const KOVAModuleDefinition gModuleA2("ModuleA2", "TestGroupA", nullptr, &gDefinitionA2, &countRegistration, nullptr);
const KOVAModuleDefinition gModuleB1("ModuleB1", "TestGroupB", nullptr, &gDefinitionB1, nullptr, nullptr);
// The child group must exist before its module registers.
const bool gChildMade = (KOVAModuleManagement::CreateNewGroup("TestGroupBChild", "TestGroupB"), true);
const KOVAModuleDefinition gModuleChild("ModuleC1", "TestGroupBChild", nullptr, &gDefinitionChild, nullptr, nullptr);

constexpr int32_t kModules = 4;

} // namespace

TEST(PackageEntry, WrongKeysAreRefusedAndTheRightKeyGivesTheMajorVersionOnce)
{
    TestKernel other;
    KOVAKernel* before = KOVAPrivate::Kernel();
    for (int32_t key : { 0, 1, 0x80537, 0x80539, -1, 0x40900 })
        EXPECT_EQ(KOVAPckInit(&other, key), 0) << "key " << key;
    EXPECT_EQ(KOVAPrivate::Kernel(), before) << "a refused key must not store a kernel";

    EXPECT_EQ(KOVAPckInit(&TestKernel::Installed(), KOVA::PackageKey), 4);
    KOVAKernel* stored = KOVAPrivate::Kernel();
    ASSERT_NE(stored, nullptr);
    EXPECT_EQ(gRegistered.load(), 2) << "each registering function runs once, at initialisation";

    EXPECT_EQ(KOVAPckInit(&other, KOVA::PackageKey), 4);
    EXPECT_EQ(KOVAPrivate::Kernel(), stored) << "the kernel is never replaced";
    EXPECT_EQ(gRegistered.load(), 2);
}

TEST(PackageEntry, CountsEveryModuleWithoutAnArray)
{
    EXPECT_EQ(KOVAGetModulesDefStruct(nullptr, nullptr, 0), kModules);
}

TEST(PackageEntry, FillsAtMostTheMaximumCountInRegistrationOrder)
{
    const KOVAComponentDefinition* definitions[8] = {};
    EXPECT_EQ(KOVAGetModulesDefStruct(nullptr, definitions, 1), 1);
    EXPECT_EQ(definitions[0], &gDefinitionA1);
    EXPECT_EQ(definitions[1], nullptr);
    EXPECT_EQ(KOVAGetModulesDefStruct(nullptr, definitions, 8), kModules);
    EXPECT_EQ(definitions[1], &gDefinitionA2);
    EXPECT_EQ(definitions[2], &gDefinitionB1);
    EXPECT_EQ(definitions[3], &gDefinitionChild);
}

// An engine may pass the largest count as "as many as there are": the
// listing must cost what the modules cost, not what the count would.
bool listsEveryModuleForTheLargestCount()
{
    const KOVAComponentDefinition* definitions[8] = {};
    const int32_t n = KOVAGetModulesDefStruct(nullptr, definitions, std::numeric_limits<int32_t>::max());
    return n == kModules && definitions[3] == &gDefinitionChild && definitions[4] == nullptr;
}

[[noreturn]] void listUnderAnAddressSpaceLimit()
{
    long pages = 0;
    std::ifstream("/proc/self/statm") >> pages;
    const rlim_t limit =
        static_cast<rlim_t>(pages) * static_cast<rlim_t>(sysconf(_SC_PAGESIZE)) + (rlim_t{ 256 } << 20);
    const rlimit addressSpace{ limit, limit };
    setrlimit(RLIMIT_AS, &addressSpace);
    std::_Exit(listsEveryModuleForTheLargestCount() ? 0 : 1);
}

TEST(PackageEntry, TheLargestMaximumCountListsEveryModuleWithinLittleMemory)
{
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    // The sanitizers reserve far more address space than any limit allows.
    EXPECT_TRUE(listsEveryModuleForTheLargestCount());
#else
    EXPECT_EXIT(listUnderAnAddressSpaceLimit(), ::testing::ExitedWithCode(0), "");
#endif
}

TEST(PackageEntry, AMaximumCountBelowOneWithAnArrayGivesZero)
{
    const KOVAComponentDefinition* definitions[1] = {};
    EXPECT_EQ(KOVAGetModulesDefStruct(nullptr, definitions, 0), 0);
    EXPECT_EQ(KOVAGetModulesDefStruct(nullptr, definitions, -5), 0);
}

TEST(PackageEntry, AGroupCountsItsOwnModulesAndThoseOfItsChildren)
{
    EXPECT_EQ(KOVAGetModulesDefStruct("TestGroupA", nullptr, 0), 2);
    EXPECT_EQ(KOVAGetModulesDefStruct("TestGroupB", nullptr, 0), 2);
    EXPECT_EQ(KOVAGetModulesDefStruct("TestGroupBChild", nullptr, 0), 1);
    const KOVAComponentDefinition* definitions[4] = {};
    EXPECT_EQ(KOVAGetModulesDefStruct("TestGroupB", definitions, 4), 2);
    EXPECT_EQ(definitions[0], &gDefinitionB1);
    EXPECT_EQ(definitions[1], &gDefinitionChild);
}

TEST(PackageEntry, AnUnregisteredGroupCountsMinusOneAndListsNothing)
{
    EXPECT_EQ(KOVAGetModulesDefStruct("NoSuchGroup", nullptr, 0), -1);
    const KOVAComponentDefinition* definitions[2] = {};
    EXPECT_EQ(KOVAGetModulesDefStruct("NoSuchGroup", definitions, 2), 0);
}

TEST(ModuleRegistry, ADuplicateModuleNameInAGroupIsRefusedWithItsText)
{
    try {
        KOVAModuleDefinition duplicate("ModuleA1", "TestGroupA", nullptr, nullptr, nullptr, nullptr);
        FAIL() << "a duplicate must be refused";
    } catch (const KOVARegistryError& e) {
        EXPECT_STREQ(e.what(), "Module ModuleA1 already referenced in the category TestGroupA\n");
    }
    EXPECT_EQ(KOVAGetModulesDefStruct("TestGroupA", nullptr, 0), 2);
}

TEST(ModuleRegistry, TheDuplicateTextIsCutAtOneHundredCharacters)
{
    const std::string longName(150, 'x');
    KOVAModuleDefinition first(longName.c_str(), "TestGroupLong", nullptr, nullptr, nullptr, nullptr);
    try {
        KOVAModuleDefinition second(longName.c_str(), "TestGroupLong", nullptr, nullptr, nullptr, nullptr);
        FAIL();
    } catch (const KOVARegistryError& e) {
        EXPECT_EQ(std::string(e.what()).size(), 100u);
    }
}

TEST(ModuleRegistry, ANullGroupNameIsRefused)
{
    EXPECT_THROW(KOVAModuleDefinition("M", nullptr, nullptr, nullptr, nullptr, nullptr), KOVARegistryError);
    try {
        KOVAModuleGroupDefinition group(nullptr);
    } catch (const KOVARegistryError& e) {
        EXPECT_STREQ(e.what(), "KOVAModuleGroupDefinition construction : the group name can't be NULL\n");
    }
}

TEST(ModuleRegistry, AModuleAddedToAnInitialisedRegistryRegistersAtOnceAndLeavesOnDestruction)
{
    TestKernel::Installed(); // initialises the registry
    ASSERT_TRUE(KOVAModuleManagement::IsInitialized());
    static std::atomic<int> calls{ 0 };
    {
        KOVAModuleDefinition late(
            "Late", "TestGroupLate", nullptr, nullptr, [](void*) { ++calls; }, nullptr);
        EXPECT_EQ(calls.load(), 1);
        EXPECT_EQ(KOVAModuleManagement::FindModule("Late"), &late);
        EXPECT_EQ(KOVAModuleManagement::FindModule("Late", "TestGroupA"), nullptr);
    }
    EXPECT_EQ(KOVAModuleManagement::FindModule("Late"), nullptr);
    EXPECT_EQ(KOVAGetModulesDefStruct("TestGroupLate", nullptr, 0), 0);
}

TEST(ModuleRegistry, FindsGroupsAtAnyDepth)
{
    ASSERT_NE(KOVAModuleManagement::FindGroup("TestGroupBChild"), nullptr);
    EXPECT_EQ(KOVAModuleManagement::FindGroup("TestGroupBChild")->modules.size(), 1u);
    EXPECT_EQ(KOVAModuleManagement::FindGroup(nullptr), nullptr);
    EXPECT_THROW(KOVAModuleManagement::CreateNewGroup("Orphan", "NoParent"), KOVARegistryError);
}
