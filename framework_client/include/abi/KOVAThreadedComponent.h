// KOVAThreadedComponent.h - the definition most components have.
//
// Most components are threaded, take their whole tables, allow any number
// of instances and register nothing of their own; their definitions differ
// only in name, version, instantiate function and tables:
//
//   const KOVAComponentDefinition KOVAMySource::s_componentDefinition = KOVA::ThreadedComponent({
//       .name = "MySource", .version = "1.0.0", .instantiate = &KOVAMySource::Instantiate,
//       .inputs = kInputs, .outputs = kOutputs, .properties = kProperties, .actions = kActions });
#pragma once

#include "abi/KOVAComponentDefinition.h"

namespace KOVA {

/// What differs between the definitions of threaded components.
struct ComponentTables {
    const char* name;
    const char* version;
    KOVAInstantiateFunction instantiate;
    const KOVAInputDefinition* inputs;
    const KOVAOutputDefinition* outputs;
    const KOVAPropertyDefinition* properties;
    const KOVAActionDefinition* actions;
};

/// A threaded component of priority 128 and kind 1, without an instance
/// limit or register functions, whose tables are read to their end entries.
constexpr KOVAComponentDefinition ThreadedComponent(const ComponentTables& tables)
{
    return { .name = tables.name,
             .version = tables.version,
             .instFunct = tables.instantiate,
             .regFunct = nullptr,
             .unregFunct = nullptr,
             .maxNumberOfInstances = 0,
             .nbInputs = AllEntries,
             .inputs = tables.inputs,
             .nbOutputs = AllEntries,
             .outputs = tables.outputs,
             .nbProperties = AllEntries,
             .properties = tables.properties,
             .nbActions = AllEntries,
             .actions = tables.actions,
             .priority = 128,
             .kind = 1,
             .threaded = true,
             .reserved = 0 };
}

} // namespace KOVA
