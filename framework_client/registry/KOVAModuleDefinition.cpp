#include "registry/KOVAModuleDefinition.h"

#include "registry/KOVAModuleManagement.h"

#include <algorithm>
#include <cstdio>

KOVAModuleDefinition::KOVAModuleDefinition(const char* name, const char* groupName,
                                           KOVAModuleInstantiateFunction instantiate, void* userData,
                                           KOVARegisterFunction registerFunction,
                                           KOVARegisterFunction unregisterFunction)
    : name_(name ? name : "")
    , instantiate_(instantiate)
    , userData_(userData)
    , register_(registerFunction)
    , unregister_(unregisterFunction)
{
    if (!groupName)
        throw KOVARegistryError("KOVAModuleGroupDefinition construction : the group name can't be NULL\n");
    groupName_ = groupName;
    KOVAModuleGroupDefinition& group = KOVAModuleManagement::GroupForRegistration(groupName_);
    const bool duplicate = std::any_of(group.modules.begin(), group.modules.end(),
                                       [&](const KOVAModuleDefinition* m) { return m->Name() == name_; });
    if (duplicate) {
        char text[101];
        std::snprintf(text, sizeof text, "Module %s already referenced in the category %s\n", name_.c_str(),
                      groupName_.c_str());
        throw KOVARegistryError(text);
    }
    KOVAModuleManagement::AddModule(group, this);
}

KOVAModuleDefinition::~KOVAModuleDefinition()
{
    KOVAModuleManagement::RemoveModule(groupName_, this);
}
