#include "registry/KOVAComponentRegistration.h"

#include "registry/KOVAModuleManagement.h"

#include <cstdio>

KOVAComponentRegistration::KOVAComponentRegistration(const char* className,
                                                     const KOVAComponentDefinition* definition) noexcept
{
    try {
        module_ = std::make_unique<KOVAModuleDefinition>(
            className, "KOVAComponent", nullptr, const_cast<KOVAComponentDefinition*>(definition), nullptr, nullptr);
    } catch (const std::exception& e) {
        KOVAModuleManagement::RecordRegistrationError(e.what());
        std::fputs(e.what(), stderr);
    } catch (...) {
        KOVAModuleManagement::RecordRegistrationError("registration of a component failed");
    }
}

KOVAComponentRegistration::~KOVAComponentRegistration() = default;
