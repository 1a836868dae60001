// KOVATableEnd.h - the entries that end a component's definition tables.
//
// Every input, output, property and action table ends with an entry whose
// name is null (KOVAComponentDefinition.h); a table that declares nothing
// holds that entry alone:
//
//   const KOVAInputDefinition kInputs[] = { KOVA::EndOfInputs };
#pragma once

#include "abi/KOVAComponentDefinition.h"

namespace KOVA {

inline constexpr KOVAInputDefinition EndOfInputs{
    .name = nullptr, .reserved = 0, .typeFilter = nullptr, .readerType = 0, .subsampling = 0
};

inline constexpr KOVAOutputDefinition EndOfOutputs{ .name = nullptr,
                                                    .reserved = 0,
                                                    .type = { .code = 0, .name = nullptr, .unit = nullptr },
                                                    .size = 0,
                                                    .fifoSize = 0,
                                                    .subsampling = 0,
                                                    .shareable = 0 };

inline constexpr KOVAPropertyDefinition EndOfProperties{ .name = nullptr,
                                                         .value = nullptr,
                                                         .unit = nullptr,
                                                         .needs2BeInitialized = false,
                                                         .canBeModifiedAfterStart = false,
                                                         .readOnly = false,
                                                         .locked = false,
                                                         .subtype = 0 };

inline constexpr KOVAActionDefinition EndOfActions{
    .name = nullptr, .action = nullptr, .allowedWhenComponentDead = false, .reserved = { 0, 0, 0 }
};

} // namespace KOVA
