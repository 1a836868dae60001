// Property tables shared by the player components of this folder.
#pragma once

#include "KOVA.h"
#include "abi/KOVAThreadedComponent.h"

namespace qir_players {

inline constexpr KOVAPropertyDefault kFile = KOVAPropertyDefault::Text("");
inline constexpr KOVAPropertyDefault kFps = KOVAPropertyDefault::Float(0.0);
inline constexpr KOVAPropertyDefault kRate = KOVAPropertyDefault::Float(1.0);
inline constexpr KOVAPropertyDefault kFrames = KOVAPropertyDefault::Integer(0);
inline constexpr KOVAPropertyDefault kLoops = KOVAPropertyDefault::Integer(1);
inline constexpr KOVAPropertyDefault kStartDelay = KOVAPropertyDefault::Integer(1000000);
inline constexpr KOVAPropertyDefault kKeepGoing = KOVAPropertyDefault::Bool(false);
inline constexpr KOVAPropertyDefault kReplayStart = KOVAPropertyDefault::Integer(0);
inline constexpr KOVAPropertyDefault kLead = KOVAPropertyDefault::Integer(1000000);
inline constexpr KOVAPropertyDefault kUnitClockOffset = KOVAPropertyDefault::Integer(0);
inline constexpr KOVAPropertyDefault kFirstFrame = KOVAPropertyDefault::Integer(0);
inline constexpr KOVAPropertyDefault kEndFrame = KOVAPropertyDefault::Integer(0);
inline constexpr KOVAPropertyDefault kChecked = KOVAPropertyDefault::Text("");

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

/// File, Fps (0: the recorded times), Rate, Frames, Loop, StartDelayUs,
/// KeepGoing, and the timing of the replay: ReplayStartUs, LeadUs,
/// UnitClockOffsetUs, FirstFrame, EndFrame; Checked (grabber streams: the
/// fingerprint of the file that qir-replay checked whole, so that Birth reads
/// only the frame headers while the file is unchanged).
inline constexpr KOVAPropertyDefinition kPlayerProperties[] = {
    property("File", &kFile, nullptr),
    property("Fps", &kFps, "1/s"),
    property("Rate", &kRate, nullptr),
    property("Frames", &kFrames, nullptr),
    property("Loop", &kLoops, nullptr),
    property("StartDelayUs", &kStartDelay, "us", KOVA::PropertySubTypeTime),
    property("KeepGoing", &kKeepGoing, nullptr),
    property("ReplayStartUs", &kReplayStart, "us", KOVA::PropertySubTypeTime),
    property("LeadUs", &kLead, "us", KOVA::PropertySubTypeTime),
    property("UnitClockOffsetUs", &kUnitClockOffset, "us", KOVA::PropertySubTypeTime),
    property("FirstFrame", &kFirstFrame, nullptr),
    property("EndFrame", &kEndFrame, nullptr),
    property("Checked", &kChecked, nullptr),
    property(nullptr, nullptr, nullptr),
};

/// "UnitState" reads every status it can (a FIFO reader never holds the
/// unit client's status thread up: the oldest unread status is
/// overwritten); "StartTimeIn" takes another player's start; "Converted"
/// is the newest frame out of an image converter behind the player (raw
/// frames), whose timestamp tells how far the converter has come.
inline constexpr KOVAInputDefinition kPlayerInputs[] = {
    { .name = "UnitState",
      .reserved = 0,
      .typeFilter = &KOVA::FilterAny,
      .readerType = KOVA::FifoReader,
      .subsampling = 1 },
    { .name = "StartTimeIn",
      .reserved = 0,
      .typeFilter = &KOVA::FilterInteger64,
      .readerType = KOVA::SamplingReader,
      .subsampling = 1 },
    { .name = "Converted",
      .reserved = 0,
      .typeFilter = &KOVA::FilterAny,
      .readerType = KOVA::SamplingReader,
      .subsampling = 1 },
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

/// A time output: one 64-bit integer (microseconds) per element.
constexpr KOVAOutputDefinition timeOutput(const char* name)
{
    return { .name = name,
             .reserved = 0,
             .type = { .code = KOVA::Integer64, .name = "", .unit = "" },
             .size = 1,
             .fifoSize = 4,
             .subsampling = 1,
             .shareable = 1 };
}

inline constexpr KOVAOutputDefinition kLoggingStartTimeOutput = timeOutput("LoggingStartTime");
inline constexpr KOVAOutputDefinition kReplayStartTimeOutput = timeOutput("ReplayStartTime");
inline constexpr KOVAOutputDefinition kReplayStopTimeOutput = timeOutput("ReplayStopTime");

inline constexpr KOVAOutputDefinition kOutputsEnd = {
    .name = nullptr,
    .reserved = 0,
    .type = { .code = 0, .name = nullptr, .unit = nullptr },
    .size = 0,
    .fifoSize = 0,
    .subsampling = 0,
    .shareable = 0,
};

/// A player's definition: `outputs` ("Frames" and the three times), kPlayerInputs, kPlayerProperties.
constexpr KOVAComponentDefinition playerDefinition(const char* name, KOVAInstantiateFunction instantiate,
                                                   const KOVAOutputDefinition* outputs)
{
    return KOVA::ThreadedComponent({ .name = name,
                                     .version = "1.0.0",
                                     .instantiate = instantiate,
                                     .inputs = kPlayerInputs,
                                     .outputs = outputs,
                                     .properties = kPlayerProperties,
                                     .actions = kNoActions });
}

} // namespace qir_players
