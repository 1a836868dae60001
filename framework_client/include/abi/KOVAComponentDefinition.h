// Definition records of a component class: the static tables a component
// declares and the engine reads through KOVAGetModulesDefStruct. Plain data
// (texts, counts and function pointers); one static instance each.
#pragma once

#include "abi/KOVAPropertyDefault.h"
#include "abi/KOVATypeInfo.h"

#include <cstddef>
#include <cstdint>

class KOVAComponent;
class KOVAModule;
class KOVATypeFilterBase;
struct KOVAComponentDefinition;

/// Creates one component instance; the result is owned by the engine.
using KOVAInstantiateFunction = KOVAComponent* (*)(const char* instanceName, const KOVAComponentDefinition* definition);
/// Registering and unregistering hooks, called with the module's user data.
using KOVARegisterFunction = void (*)(void* userData);

namespace KOVA {
/// A table count of -1: every entry before the terminating entry.
inline constexpr uint32_t AllEntries = 0xFFFFFFFFu;
} // namespace KOVA

/// Input table entry. Layout: 0 name*, 8 reserved, 16 typeFilter*,
/// 24 readerType, 28 subsampling.
struct KOVAInputDefinition {
    const char* name;
    int32_t reserved;
    const KOVATypeFilterBase* typeFilter;
    int32_t readerType; ///< KOVA::FifoReader .. KOVA::SamplingReader
    int32_t subsampling;
};

/// Output table entry. Layout: 0 name*, 8 reserved, 16 type (24 bytes),
/// 40 size, 44 fifoSize, 48 subsampling, 52 shareable.
struct KOVAOutputDefinition {
    const char* name;
    int32_t reserved;
    KOVATypeInfo type;
    int32_t size;     ///< items per element; 0: the component allocates in Birth
    int32_t fifoSize; ///< elements in the output's ring
    int32_t subsampling;
    int32_t shareable;
};

/// Property table entry. Layout: 0 name*, 8 value*, 16 unit*,
/// 24..27 the four flags, 28 subtype.
struct KOVAPropertyDefinition {
    const char* name;
    const KOVAPropertyDefault* value;
    const char* unit;
    bool needs2BeInitialized;
    bool canBeModifiedAfterStart;
    bool readOnly;
    bool locked;
    int32_t subtype; ///< KOVA::PropertySubType... bits
};

/// Holder of an action's function: the plain variant is called with the
/// owning module and the action's index, the other also gets an argument
/// text. Layout: 0 function*, 8 functionWithArgument*.
struct KOVAActionFunction {
    void (*function)(KOVAModule* module, int32_t actionIndex);
    void (*functionWithArgument)(KOVAModule* module, int32_t actionIndex, const char* argument);
};

/// Action table entry. Layout: 0 name*, 8 action*, 16 allowedWhenComponentDead,
/// 17 reserved[3].
struct KOVAActionDefinition {
    const char* name;
    const KOVAActionFunction* action;
    bool allowedWhenComponentDead;
    uint8_t reserved[3];
};

/// Component definition (s_componentDefinition of a component class).
/// Every table ends with an entry whose name is null.
struct KOVAComponentDefinition {
    const char* name; ///< module name shown to users
    const char* version;
    KOVAInstantiateFunction instFunct;
    KOVARegisterFunction regFunct;
    KOVARegisterFunction unregFunct;
    uint32_t maxNumberOfInstances; ///< 0: no limit
    uint32_t nbInputs;             ///< KOVA::AllEntries: the whole table
    const KOVAInputDefinition* inputs;
    uint32_t nbOutputs;
    const KOVAOutputDefinition* outputs;
    uint32_t nbProperties;
    const KOVAPropertyDefinition* properties;
    uint32_t nbActions;
    const KOVAActionDefinition* actions;
    uint16_t priority;
    uint32_t kind;
    bool threaded;
    int32_t reserved;
};

static_assert(sizeof(KOVAInputDefinition) == 32);
static_assert(offsetof(KOVAInputDefinition, typeFilter) == 16);
static_assert(offsetof(KOVAInputDefinition, readerType) == 24);
static_assert(offsetof(KOVAInputDefinition, subsampling) == 28);
static_assert(sizeof(KOVAOutputDefinition) == 56);
static_assert(offsetof(KOVAOutputDefinition, type) == 16);
static_assert(offsetof(KOVAOutputDefinition, size) == 40);
static_assert(offsetof(KOVAOutputDefinition, fifoSize) == 44);
static_assert(offsetof(KOVAOutputDefinition, shareable) == 52);
static_assert(sizeof(KOVAPropertyDefinition) == 32);
static_assert(offsetof(KOVAPropertyDefinition, needs2BeInitialized) == 24);
static_assert(offsetof(KOVAPropertyDefinition, locked) == 27);
static_assert(offsetof(KOVAPropertyDefinition, subtype) == 28);
static_assert(sizeof(KOVAActionFunction) == 16);
static_assert(sizeof(KOVAActionDefinition) == 24);
static_assert(offsetof(KOVAActionDefinition, allowedWhenComponentDead) == 16);
static_assert(sizeof(KOVAComponentDefinition) == 120);
static_assert(offsetof(KOVAComponentDefinition, maxNumberOfInstances) == 40);
static_assert(offsetof(KOVAComponentDefinition, nbInputs) == 44);
static_assert(offsetof(KOVAComponentDefinition, inputs) == 48);
static_assert(offsetof(KOVAComponentDefinition, actions) == 96);
static_assert(offsetof(KOVAComponentDefinition, priority) == 104);
static_assert(offsetof(KOVAComponentDefinition, kind) == 108);
static_assert(offsetof(KOVAComponentDefinition, threaded) == 112);
static_assert(offsetof(KOVAComponentDefinition, reserved) == 116);
