// Declaring a component class in a package: its module definition in the
// group "KOVAComponent" and its module declaration marker.
#pragma once

#include "registry/KOVAModuleDefinition.h"

#include <memory>

/// Registers one component class while the library loads. A registration
/// the registry refuses (a duplicate module name) is recorded and written to
/// standard error instead of ending the loading process; KOVAPckInit then
/// refuses the package.
class KOVAComponentRegistration {
public:
    KOVAComponentRegistration(const char* className, const KOVAComponentDefinition* definition) noexcept;
    ~KOVAComponentRegistration();
    KOVAComponentRegistration(const KOVAComponentRegistration&) = delete;
    KOVAComponentRegistration& operator=(const KOVAComponentRegistration&) = delete;

private:
    std::unique_ptr<KOVAModuleDefinition> module_;
};

/// Registers component class `ClassName` with its definition object.
#define KOVA_REGISTER_COMPONENT(ClassName, definition)                                                                 \
    static const KOVAComponentRegistration kova_registration_##ClassName(#ClassName, &(definition))

/// Keeps the text "$!KOVA_MODULE!KOVAComponent!<name>!$!<version>!$" in the
/// package's data so that tools can list its modules without loading it.
/// `moduleName` and `version` must be string literals.
#define KOVA_MODULE_MARKER(identifier, moduleName, version)                                                            \
    [[gnu::used]] static const char identifier[] = "$!KOVA_MODULE!KOVAComponent!" moduleName "!$!" version "!$"
