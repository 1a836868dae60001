// The package's entry points: the key handshake that hands the package the
// engine's kernel object, and the listing of its component definitions.
#include "abi/KOVAPackageEntry.h"
#include "registry/KOVAModuleManagement.h"
#include "registry/KOVAPrivate.h"

#include <vector>

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
            std::vector<void*> userData(static_cast<size_t>(maximumCount));
            const int32_t n = KOVAModuleManagement::EnumerateAvailableModules(groupName, userData.data(), maximumCount);
            for (int32_t i = 0; i < n; ++i)
                definitions[i] = static_cast<const KOVAComponentDefinition*>(userData[static_cast<size_t>(i)]);
            return n;
        }
        return KOVAModuleManagement::NumberOfReferencedModules(groupName);
    } catch (...) {
        return definitions ? 0 : -1;
    }
}
