// Registry faults that change the process for good, in a program of their
// own: a duplicate component registration, and Uninitialize.
#include "CollectedAssertions.h"
#include "TestKernel.h"
#include "abi/KOVAPackageEntry.h"
#include "registry/KOVAComponentRegistration.h"
#include "registry/KOVAModuleManagement.h"

#include <gtest/gtest.h>

namespace {

KOVAComponentDefinition named(const char* name)
{
    KOVAComponentDefinition definition{};
    definition.name = name;
    definition.version = "1.0.0";
    return definition;
}

KOVAComponentDefinition gDefinition = named("Twice");
// Two classes registered under one name: the second registration must not
// end the loading process.
const KOVAComponentRegistration gFirst("KOVATwice", &gDefinition);
const KOVAComponentRegistration gSecond("KOVATwice", &gDefinition);

} // namespace

TEST(RegistryFaults, ADuplicateRegistrationIsRecordedAndThePackageRefusesTheHandshake)
{
    const auto errors = KOVAModuleManagement::RegistrationErrors();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0], "Module KOVATwice already referenced in the category KOVAComponent\n");
    TestKernel kernel;
    EXPECT_EQ(KOVAPckInit(&kernel, KOVA::PackageKey), 0);
    EXPECT_TRUE(qir::test::HasReportAt(kernel, KOVA::Error, "Module KOVATwice already referenced"));
    EXPECT_EQ(KOVAGetModulesDefStruct("KOVAComponent", nullptr, 0), 1);
}

TEST(RegistryFaults, UninitializeEmptiesTheRegistry)
{
    KOVAModuleManagement::Initialize();
    KOVAModuleManagement::Uninitialize();
    EXPECT_FALSE(KOVAModuleManagement::IsInitialized());
    EXPECT_EQ(KOVAGetModulesDefStruct(nullptr, nullptr, 0), 0);
    EXPECT_EQ(KOVAGetModulesDefStruct("KOVAComponent", nullptr, 0), -1);
}
