// A named group of module definitions, with child groups.
#pragma once

#include <memory>
#include <string>
#include <vector>

class KOVAModuleDefinition;

/// Guarded by the registry's mutex (see KOVAModuleManagement).
class KOVAModuleGroupDefinition {
public:
    /// Raises KOVARegistryError ("KOVAModuleGroupDefinition construction :
    /// the group name can't be NULL\n") for a null name.
    explicit KOVAModuleGroupDefinition(const char* name);

    const std::string& Name() const { return name_; }
    /// Modules in registration order (not owned).
    std::vector<KOVAModuleDefinition*> modules;
    /// Child groups in creation order.
    std::vector<std::unique_ptr<KOVAModuleGroupDefinition>> children;

private:
    std::string name_;
};
