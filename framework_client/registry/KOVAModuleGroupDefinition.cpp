#include "registry/KOVAModuleGroupDefinition.h"

#include "registry/KOVAModuleDefinition.h"

KOVAModuleGroupDefinition::KOVAModuleGroupDefinition(const char* name)
{
    if (!name)
        throw KOVARegistryError("KOVAModuleGroupDefinition construction : the group name can't be NULL\n");
    name_ = name;
}
