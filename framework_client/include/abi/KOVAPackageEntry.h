// The two entry points every package exports, with C linkage.
#pragma once

#include "abi/KOVAComponentDefinition.h"
#include "abi/KOVAKernel.h"

#include <cstdint>

#define KOVA_PACKAGE_EXPORT __attribute__((visibility("default")))

extern "C" {
/// Hands the package the engine's kernel object. Returns 0 when `key` is not
/// KOVA::PackageKey (the package is then incompatible), else
/// KOVA::KernelBuild >> 16.
KOVA_PACKAGE_EXPORT int32_t KOVAPckInit(KOVAKernel* kernel, int32_t key);

/// Lists component definitions (see the registry for the counting rules).
KOVA_PACKAGE_EXPORT int32_t KOVAGetModulesDefStruct(const char* groupName, const KOVAComponentDefinition** definitions,
                                                    int32_t maximumCount);
}

using KOVAPckInitFunction = int32_t (*)(KOVAKernel* kernel, int32_t key);
using KOVAGetModulesDefStructFunction = int32_t (*)(const char* groupName, const KOVAComponentDefinition** definitions,
                                                    int32_t maximumCount);
