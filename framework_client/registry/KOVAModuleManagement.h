// The process-wide module registry of this binary: groups of module
// definitions, filled while the library loads and read by the engine.
#pragma once

#include "registry/KOVAModuleDefinition.h"
#include "registry/KOVAModuleGroupDefinition.h"

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

class KOVAModule;

/// Thread-safe: every operation takes the registry's (recursive) mutex;
/// registering functions run under it and may call the registry again.
class KOVAModuleManagement {
public:
    /// Marks the registry initialised (creating it when absent) and calls
    /// the registering function of every module of every group, in list
    /// order, with its user data. No effect when initialised already.
    static void Initialize();
    /// Clears every group and module, deletes the registry and clears the
    /// initialised flag.
    static void Uninitialize();
    static bool IsInitialized();

    /// Appends `module` to `group`; in an initialised registry calls its
    /// registering function at once.
    static void AddModule(KOVAModuleGroupDefinition& group, KOVAModuleDefinition* module);
    /// The group named `name` (at any depth), or null.
    static KOVAModuleGroupDefinition* FindGroup(const char* name);
    /// The module named `name` in group `groupName` (null: in any group),
    /// or null.
    static KOVAModuleDefinition* FindModule(const char* name, const char* groupName = nullptr);
    /// Creates group `name` under `parentName` (null: at the top level) and
    /// returns it; returns the existing group when there is one. Raises
    /// KOVARegistryError for a null name or an unknown parent.
    static KOVAModuleGroupDefinition* CreateNewGroup(const char* name, const char* parentName = nullptr);
    /// Modules of group `groupName` and, recursively, of its children; with
    /// null, of every group. -1 for an unregistered group name.
    static int32_t NumberOfReferencedModules(const char* groupName);
    /// Writes the user data of at most `maximumCount` modules (same order
    /// and scope as NumberOfReferencedModules) into `userData`; returns how
    /// many were written (0 for an unregistered group or a count below 1).
    static int32_t EnumerateAvailableModules(const char* groupName, void** userData, int32_t maximumCount);
    /// Same as EnumerateAvailableModules, handing each module's user data to
    /// `take` instead of storing it (so that a caller can write straight into
    /// an array of another pointer type).
    static int32_t EnumerateAvailableModules(const char* groupName, int32_t maximumCount,
                                             const std::function<void(void* userData)>& take);
    /// Makes an instance of module `moduleName`: through its instantiation
    /// function, or for a component through its component definition's.
    /// Null when the module is unknown or cannot be instantiated.
    static KOVAModule* Instantiate(const char* moduleName, const char* instanceName);
    /// Same as FindModule(name) in any group.
    static KOVAModuleDefinition* GetModuleDefinition(const char* name);

    /// Serialises KOVAPckInit.
    static std::mutex& PackageInitMutex();
    /// Registration failures recorded while the library loaded (a duplicate
    /// module, for example); KOVAPckInit refuses the package when there are.
    static std::vector<std::string> RegistrationErrors();
    static void RecordRegistrationError(const std::string& text);

    // Used by KOVAModuleDefinition.
    static KOVAModuleGroupDefinition& GroupForRegistration(const std::string& groupName);
    static void RemoveModule(const std::string& groupName, KOVAModuleDefinition* module);
};
