// Property tables shared by the player components of this folder.
#pragma once

#include "KOVA.h"

namespace qir_players {

inline constexpr KOVAPropertyDefault kFile = KOVAPropertyDefault::Text("");
inline constexpr KOVAPropertyDefault kFps = KOVAPropertyDefault::Float(0.0);
inline constexpr KOVAPropertyDefault kRate = KOVAPropertyDefault::Float(1.0);
inline constexpr KOVAPropertyDefault kFrames = KOVAPropertyDefault::Integer(0);
inline constexpr KOVAPropertyDefault kLoops = KOVAPropertyDefault::Integer(1);
inline constexpr KOVAPropertyDefault kStartDelay = KOVAPropertyDefault::Integer(1000000);
inline constexpr KOVAPropertyDefault kKeepGoing = KOVAPropertyDefault::Bool(false);

constexpr KOVAPropertyDefinition property(const char* name, const KOVAPropertyDefault* value, const char* unit,
                                          int32_t subtype = KOVA::PropertySubTypeNone)
{
    return { .name = name,
             .value = value,
             .unit = unit,
             .needs2BeInitialized = false,
             .canBeModifiedAfterStart = false,
             .readOnly = false,
             .locked = true,
             .subtype = subtype };
}

/// File, Fps (0: the recorded times), Rate, Frames, Loop, StartDelayUs, KeepGoing.
inline constexpr KOVAPropertyDefinition kPlayerProperties[] = {
    property("File", &kFile, nullptr),
    property("Fps", &kFps, "1/s"),
    property("Rate", &kRate, nullptr),
    property("Frames", &kFrames, nullptr),
    property("Loop", &kLoops, nullptr),
    property("StartDelayUs", &kStartDelay, "us", KOVA::PropertySubTypeTime),
    property("KeepGoing", &kKeepGoing, nullptr),
    property(nullptr, nullptr, nullptr),
};

inline constexpr KOVAInputDefinition kNoInputs[] = {
    { .name = nullptr, .reserved = 0, .typeFilter = nullptr, .readerType = 0, .subsampling = 0 },
};
inline constexpr KOVAActionDefinition kNoActions[] = {
    { .name = nullptr, .action = nullptr, .allowedWhenComponentDead = false, .reserved = { 0, 0, 0 } },
};

/// "Frames" of `type`: eight elements in the ring, allocated by the player at Birth.
constexpr KOVAOutputDefinition framesOutput(KOVATypeInfo type)
{
    return {
        .name = "Frames", .reserved = 0, .type = type, .size = 0, .fifoSize = 8, .subsampling = 1, .shareable = 1
    };
}

/// "LoggingStartTime": one 64-bit integer per element.
inline constexpr KOVAOutputDefinition kLoggingStartTimeOutput = {
    .name = "LoggingStartTime",
    .reserved = 0,
    .type = { .code = KOVA::Integer64, .name = "", .unit = "" },
    .size = 1,
    .fifoSize = 4,
    .subsampling = 1,
    .shareable = 1,
};

inline constexpr KOVAOutputDefinition kOutputsEnd = {
    .name = nullptr,
    .reserved = 0,
    .type = { .code = 0, .name = nullptr, .unit = nullptr },
    .size = 0,
    .fifoSize = 0,
    .subsampling = 0,
    .shareable = 0,
};

/// A player's definition: outputs "Frames" and "LoggingStartTime" (of `outputs`), kPlayerProperties.
constexpr KOVAComponentDefinition playerDefinition(const char* name, KOVAInstantiateFunction instantiate,
                                                   const KOVAOutputDefinition* outputs)
{
    return { .name = name,
             .version = "1.0.0",
             .instFunct = instantiate,
             .regFunct = nullptr,
             .unregFunct = nullptr,
             .maxNumberOfInstances = 0,
             .nbInputs = KOVA::AllEntries,
             .inputs = kNoInputs,
             .nbOutputs = KOVA::AllEntries,
             .outputs = outputs,
             .nbProperties = KOVA::AllEntries,
             .properties = kPlayerProperties,
             .nbActions = KOVA::AllEntries,
             .actions = kNoActions,
             .priority = 128,
             .kind = 1,
             .threaded = true,
             .reserved = 0 };
}

} // namespace qir_players
