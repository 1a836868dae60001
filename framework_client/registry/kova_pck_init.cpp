// The package's entry points: the key handshake that hands the package the
// engine's kernel object, and the listing of its component definitions.
#include "abi/KOVAPackageEntry.h"
#include "registry/KOVAModuleManagement.h"
#include "registry/KOVAPrivate.h"


extern "C" int32_t KOVAPckInit(KOVAKernel* kernel, int32_t key)
{
    if (key != KOVA::PackageKey)
        return 0;
    try {
        const std::lock_guard lock(KOVAModuleManagement::PackageInitMutex());
        const std::vector<std::string> errors = KOVAModuleManagement::RegistrationErrors();
        if (!errors.empty()) {
            // A package whose modules did not register as declared is refused
            // as a whole rather than offered in part.
            for (const std::string& error : errors) {
                if (kernel)
                    kernel->Report(nullptr, KOVA::Error, error.c_str());
            }
            return 0;
        }
        if (!KOVAPrivate::Kernel()) {
            KOVAModuleManagement::Initialize();
            if (kernel)
                KOVAPrivate::StoreKernel(kernel);
        }
        return KOVA::KernelBuild >> 16;
    } catch (...) {
        return 0;
    }
}

extern "C" int32_t KOVAGetModulesDefStruct(const char* groupName, const KOVAComponentDefinition** definitions,
                                           int32_t maximumCount)
{
    try {
        if (definitions) {
            if (maximumCount < 1)
                return 0;
            // Straight into the caller's array: the maximum count is only a
            // bound (an engine may pass INT32_MAX), never a size to allocate.
            int32_t written = 0;
            return KOVAModuleManagement::EnumerateAvailableModules(groupName, maximumCount, [&](void* userData) {
                definitions[written++] = static_cast<const KOVAComponentDefinition*>(userData);
            });
        }
        return KOVAModuleManagement::NumberOfReferencedModules(groupName);
    } catch (...) {
        return definitions ? 0 : -1;
    }
}
