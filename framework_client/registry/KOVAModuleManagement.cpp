#include "registry/KOVAModuleManagement.h"

#include "component/KOVAComponent.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>

namespace {

using GroupList = std::vector<std::unique_ptr<KOVAModuleGroupDefinition>>;

/// The registry of this binary. A function-local static: made on first use
/// (module definitions register during static initialisation, in any
/// order) and destroyed after the last of them when the library unloads.
struct Registry {
    std::recursive_mutex mutex; ///< guards everything below
    std::unique_ptr<GroupList> groups;
    bool initialized = false;
    std::vector<std::string> errors;
    std::mutex packageInit; ///< serialises KOVAPckInit; never taken with `mutex` held
};

Registry& registry()
{
    static Registry instance;
    return instance;
}

GroupList& groupsLocked(Registry& r)
{
    if (!r.groups)
        r.groups = std::make_unique<GroupList>();
    return *r.groups;
}

KOVAModuleGroupDefinition* findIn(GroupList& list, std::string_view name)
{
    for (auto& group : list) {
        if (group->Name() == name)
            return group.get();
        if (auto* child = findIn(group->children, name))
            return child;
    }
    return nullptr;
}

void visitModules(const KOVAModuleGroupDefinition& group, const std::function<bool(KOVAModuleDefinition*)>& visit,
                  bool& more)
{
    for (KOVAModuleDefinition* module : group.modules) {
        if (!more)
            return;
        more = visit(module);
    }
    for (const auto& child : group.children) {
        if (!more)
            return;
        visitModules(*child, visit, more);
    }
}

/// Visits the modules of `groupName` (null: every group) in order until
/// `visit` returns false. False when the group is not registered.
bool forEachModule(const char* groupName, const std::function<bool(KOVAModuleDefinition*)>& visit)
{
    Registry& r = registry();
    if (!r.groups)
        return groupName == nullptr;
    bool more = true;
    if (!groupName) {
        for (const auto& group : *r.groups)
            visitModules(*group, visit, more);
        return true;
    }
    const KOVAModuleGroupDefinition* group = findIn(*r.groups, groupName);
    if (!group)
        return false;
    visitModules(*group, visit, more);
    return true;
}

} // namespace

void KOVAModuleManagement::Initialize()
{
    Registry& r = registry();
    const std::lock_guard lock(r.mutex);
    if (r.initialized)
        return;
    r.initialized = true;
    groupsLocked(r);
    forEachModule(nullptr, [](KOVAModuleDefinition* module) {
        if (module->RegisterFunction())
            module->RegisterFunction()(module->UserData());
        return true;
    });
}

void KOVAModuleManagement::Uninitialize()
{
    Registry& r = registry();
    const std::lock_guard lock(r.mutex);
    r.groups.reset();
    r.initialized = false;
}

bool KOVAModuleManagement::IsInitialized()
{
    Registry& r = registry();
    const std::lock_guard lock(r.mutex);
    return r.initialized;
}

void KOVAModuleManagement::AddModule(KOVAModuleGroupDefinition& group, KOVAModuleDefinition* module)
{
    Registry& r = registry();
    const std::lock_guard lock(r.mutex);
    group.modules.push_back(module);
    if (r.initialized && module->RegisterFunction())
        module->RegisterFunction()(module->UserData());
}

KOVAModuleGroupDefinition* KOVAModuleManagement::FindGroup(const char* name)
{
    Registry& r = registry();
    const std::lock_guard lock(r.mutex);
    return name && r.groups ? findIn(*r.groups, name) : nullptr;
}

KOVAModuleDefinition* KOVAModuleManagement::FindModule(const char* name, const char* groupName)
{
    Registry& r = registry();
    const std::lock_guard lock(r.mutex);
    KOVAModuleDefinition* found = nullptr;
    if (!name)
        return nullptr;
    forEachModule(groupName, [&](KOVAModuleDefinition* module) {
        if (module->Name() == name)
            found = module;
        return found == nullptr;
    });
    return found;
}

KOVAModuleGroupDefinition* KOVAModuleManagement::CreateNewGroup(const char* name, const char* parentName)
{
    Registry& r = registry();
    const std::lock_guard lock(r.mutex);
    if (!name)
        throw KOVARegistryError("KOVAModuleGroupDefinition construction : the group name can't be NULL\n");
    GroupList& groups = groupsLocked(r);
    if (KOVAModuleGroupDefinition* existing = findIn(groups, name))
        return existing;
    GroupList* list = &groups;
    if (parentName) {
        KOVAModuleGroupDefinition* parent = findIn(groups, parentName);
        if (!parent)
            throw KOVARegistryError(std::string("Unknown parent group ") + parentName);
        list = &parent->children;
    }
    list->push_back(std::make_unique<KOVAModuleGroupDefinition>(name));
    return list->back().get();
}

int32_t KOVAModuleManagement::NumberOfReferencedModules(const char* groupName)
{
    Registry& r = registry();
    const std::lock_guard lock(r.mutex);
    int32_t count = 0;
    const bool known = forEachModule(groupName, [&](KOVAModuleDefinition*) {
        ++count;
        return true;
    });
    return known ? count : -1;
}

int32_t KOVAModuleManagement::EnumerateAvailableModules(const char* groupName, void** userData, int32_t maximumCount)
{
    if (!userData)
        return 0;
    int32_t written = 0;
    return EnumerateAvailableModules(groupName, maximumCount, [&](void* data) { userData[written++] = data; });
}

int32_t KOVAModuleManagement::EnumerateAvailableModules(const char* groupName, int32_t maximumCount,
                                                        const std::function<void(void* userData)>& take)
{
    if (maximumCount < 1)
        return 0;
    Registry& r = registry();
    const std::lock_guard lock(r.mutex);
    int32_t written = 0;
    forEachModule(groupName, [&](KOVAModuleDefinition* module) {
        take(module->UserData());
        ++written;
        return written < maximumCount;
    });
    return written;
}

KOVAModule* KOVAModuleManagement::Instantiate(const char* moduleName, const char* instanceName)
{
    KOVAModuleDefinition* module = GetModuleDefinition(moduleName);
    if (!module)
        return nullptr;
    if (module->InstantiateFunction())
        return module->InstantiateFunction()(instanceName, module->UserData());
    const auto* definition = static_cast<const KOVAComponentDefinition*>(module->UserData());
    if (definition && definition->instFunct)
        return definition->instFunct(instanceName, definition);
    return nullptr;
}

KOVAModuleDefinition* KOVAModuleManagement::GetModuleDefinition(const char* name)
{
    return FindModule(name, nullptr);
}

std::mutex& KOVAModuleManagement::PackageInitMutex()
{
    return registry().packageInit;
}

std::vector<std::string> KOVAModuleManagement::RegistrationErrors()
{
    Registry& r = registry();
    const std::lock_guard lock(r.mutex);
    return r.errors;
}

void KOVAModuleManagement::RecordRegistrationError(const std::string& text)
{
    Registry& r = registry();
    const std::lock_guard lock(r.mutex);
    r.errors.push_back(text);
}

KOVAModuleGroupDefinition& KOVAModuleManagement::GroupForRegistration(const std::string& groupName)
{
    Registry& r = registry();
    const std::lock_guard lock(r.mutex);
    GroupList& groups = groupsLocked(r);
    if (KOVAModuleGroupDefinition* group = findIn(groups, groupName))
        return *group;
    groups.push_back(std::make_unique<KOVAModuleGroupDefinition>(groupName.c_str()));
    return *groups.back();
}

void KOVAModuleManagement::RemoveModule(const std::string& groupName, KOVAModuleDefinition* module)
{
    Registry& r = registry();
    const std::lock_guard lock(r.mutex);
    if (!r.groups)
        return;
    if (KOVAModuleGroupDefinition* group = findIn(*r.groups, groupName)) {
        auto& modules = group->modules;
        modules.erase(std::remove(modules.begin(), modules.end(), module), modules.end());
    }
}
