// Type of the samples of one output: a type code with an optional type name
// (the structure name of a Structure or DynamicStructure sample) and an
// optional unit. Plain data; it crosses the engine boundary as it is.
#pragma once

#include "abi/KOVAConstants.h"

#include <cstddef>
#include <cstdint>

/// Layout (x86_64):
///
///   offset 0   code  u64
///   offset 8   name  const char* (null: no name)
///   offset 16  unit  const char* (null: no unit)
struct KOVATypeInfo {
    KOVATypeInfoValue code;
    const char* name;
    const char* unit;
};

static_assert(sizeof(KOVATypeInfo) == 24);
static_assert(offsetof(KOVATypeInfo, code) == 0);
static_assert(offsetof(KOVATypeInfo, name) == 8);
static_assert(offsetof(KOVATypeInfo, unit) == 16);
