// One module class offered by a package, entered in its group of the module
// registry while the library loads.
#pragma once

#include "abi/KOVAComponentDefinition.h"

#include <stdexcept>
#include <string>

/// Instantiation function of a non-component module (components instantiate
/// through their component definition instead).
using KOVAModuleInstantiateFunction = KOVAModule* (*)(const char* instanceName, void* userData);

/// Raised by the registry: duplicate module names and null group names.
class KOVARegistryError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

/// A module definition. Registration is single-threaded (library load).
class KOVAModuleDefinition {
public:
    /// Enters the definition in group `groupName` (created, with the
    /// registry, when absent) and keeps its own copy of `name`. When the
    /// registry is initialised already, calls `registerFunction(userData)` at
    /// once. Raises KOVARegistryError ("Module %s already referenced in the
    /// category %s\n", at most 100 characters) when the group holds a module
    /// of that name, and for a null group name.
    KOVAModuleDefinition(const char* name, const char* groupName, KOVAModuleInstantiateFunction instantiate,
                         void* userData, KOVARegisterFunction registerFunction,
                         KOVARegisterFunction unregisterFunction);
    /// Leaves the group (when the registry still has it).
    ~KOVAModuleDefinition();
    KOVAModuleDefinition(const KOVAModuleDefinition&) = delete;
    KOVAModuleDefinition& operator=(const KOVAModuleDefinition&) = delete;

    const std::string& Name() const { return name_; }
    const std::string& GroupName() const { return groupName_; }
    KOVAModuleInstantiateFunction InstantiateFunction() const { return instantiate_; }
    void* UserData() const { return userData_; }
    KOVARegisterFunction RegisterFunction() const { return register_; }
    KOVARegisterFunction UnregisterFunction() const { return unregister_; }

private:
    std::string name_;
    std::string groupName_;
    KOVAModuleInstantiateFunction instantiate_;
    void* userData_;
    KOVARegisterFunction register_;
    KOVARegisterFunction unregister_;
};
