// Named constants of the component framework: type codes and flags, reader
// kinds, property kinds and subtypes, report levels, wait and unwind values,
// module states and threading models. Both sides of the engine boundary (the
// engine and every package) compile against this one header.
#pragma once

#include <cstdint>

/// Signed 64-bit microseconds of engine time.
using KOVATimestamp = int64_t;

/// 64-bit sample type code: the low 32 bits name the sample kind by single
/// bits, the top bits are flags.
using KOVATypeInfoValue = uint64_t;

namespace KOVA {

// Sample kinds (low 32 bits of a type code).
inline constexpr KOVATypeInfoValue TypeMask = 0xFFFFFFFFull;
inline constexpr KOVATypeInfoValue Structure = 0x1;
inline constexpr KOVATypeInfoValue Integer32 = 0x2;
inline constexpr KOVATypeInfoValue Integer = Integer32;
inline constexpr KOVATypeInfoValue Float64 = 0x4;
inline constexpr KOVATypeInfoValue Float = Float64;
inline constexpr KOVATypeInfoValue Double = Float64;
inline constexpr KOVATypeInfoValue TextAscii = 0x8;
inline constexpr KOVATypeInfoValue TextUTF8 = TextAscii;
inline constexpr KOVATypeInfoValue TextUnicode = 0x10;
inline constexpr KOVATypeInfoValue TextUTF16 = TextUnicode;
inline constexpr KOVATypeInfoValue IplImage = 0x20;
inline constexpr KOVATypeInfoValue KOVAImage = 0x40;
inline constexpr KOVATypeInfoValue CANFrame = 0x80;
inline constexpr KOVATypeInfoValue Matrix = 0x100;
inline constexpr KOVATypeInfoValue RealObject = 0x200;
inline constexpr KOVATypeInfoValue DrawingObject = 0x400;
inline constexpr KOVATypeInfoValue Triangles3D = 0x800;
inline constexpr KOVATypeInfoValue Stream8 = 0x1000;
inline constexpr KOVATypeInfoValue UnsignedInteger8 = Stream8;
inline constexpr KOVATypeInfoValue Stream16 = 0x2000;
inline constexpr KOVATypeInfoValue UnsignedInteger16 = Stream16;
inline constexpr KOVATypeInfoValue Stream32 = 0x4000;
inline constexpr KOVATypeInfoValue UnsignedInteger32 = Stream32;
inline constexpr KOVATypeInfoValue Integer64 = 0x8000;
inline constexpr KOVATypeInfoValue Float32 = 0x10000;
inline constexpr KOVATypeInfoValue AudioSignal = 0x20000;
inline constexpr KOVATypeInfoValue DynamicStructure = 0x40000;
inline constexpr KOVATypeInfoValue CANFDFrame = 0x80000;
inline constexpr KOVATypeInfoValue Integer8 = 0x100000;
inline constexpr KOVATypeInfoValue Integer16 = 0x200000;
inline constexpr KOVATypeInfoValue UnsignedInteger64 = 0x400000;
inline constexpr KOVATypeInfoValue CustomType = 0x800000;
inline constexpr KOVATypeInfoValue CANUniFrame = 0x1000000;

// Flags (top bits of a type code).
inline constexpr KOVATypeInfoValue VectorFlag = 1ull << 63;
inline constexpr KOVATypeInfoValue FrequencyFlag = 1ull << 62;
inline constexpr KOVATypeInfoValue QualityFlag = 1ull << 61;
inline constexpr KOVATypeInfoValue MiscFlag = 1ull << 60;
inline constexpr KOVATypeInfoValue IgnoreNameFlag = 1ull << 59; ///< the code has no type name to check
inline constexpr KOVATypeInfoValue IgnoreUnitFlag = 1ull << 58; ///< the code has no unit to check

// Reader kinds: 0 to 2 are FIFO-style, 3 and 4 sampling-style.
inline constexpr int32_t FifoReader = 0;
inline constexpr int32_t NeverSkippingReader = 1;
inline constexpr int32_t LastOrNextReader = 2;
inline constexpr int32_t Wait4NextReader = 3;
inline constexpr int32_t SamplingReader = 4;

/// True for the FIFO-style reader kinds (0 to 2).
constexpr bool IsFifoStyleReader(int32_t kind)
{
    return kind >= FifoReader && kind <= LastOrNextReader;
}
/// True for every known reader kind (0 to 4).
constexpr bool IsValidReaderKind(int32_t kind)
{
    return kind >= FifoReader && kind <= SamplingReader;
}

// Property kinds.
inline constexpr int32_t BoolProperty = 0;
inline constexpr int32_t IntegerProperty = 1;
inline constexpr int32_t FloatProperty = 2;
inline constexpr int32_t StringProperty = 3;
inline constexpr int32_t EnumProperty = 4;

// Property subtypes (bit flags).
inline constexpr int32_t PropertySubTypeNone = 0;
inline constexpr int32_t PropertySubTypeTime = 1;
inline constexpr int32_t PropertySubTypeCode = 2;
inline constexpr int32_t PropertySubTypeColor = 4;
inline constexpr int32_t PropertySubTypeHexa = 8;
inline constexpr int32_t PropertySubTypeFile = 16;
inline constexpr int32_t PropertySubTypePath = 32;
inline constexpr int32_t PropertySubTypeMustExist = 64;
inline constexpr int32_t PropertySubTypeHidden = 128;
inline constexpr int32_t PropertySubTypeBeginSubSection = 256;
inline constexpr int32_t PropertySubTypeEndSubSection = 512;

// Report levels.
inline constexpr int32_t Info = 0;
inline constexpr int32_t Warning = 1;
inline constexpr int32_t Error = 2;
inline constexpr int32_t ParserEcho = 3;

// Special wait and unwind values. The framework raises these integers to
// unwind a lifecycle call; they never leave the framework client.
inline constexpr int32_t NoError = 0;
inline constexpr int32_t Infinite = -1;
inline constexpr int32_t GotAMessage = -2;
inline constexpr int32_t TimeOut = -3;
inline constexpr int32_t FatalKernelError = -4;
inline constexpr int32_t ErrorException = -5;
/// Result of an engine request the component refused (for example an action
/// while the component is dead). Only used across the engine boundary.
inline constexpr int32_t Refused = -6;
inline constexpr int32_t ModuleDied = 57005;

// Module states (bit flags).
inline constexpr uint32_t DeadState = 1;
inline constexpr uint32_t DyingState = 2;
inline constexpr uint32_t LivingState = 4;
inline constexpr uint32_t ErrorState = 8;
inline constexpr uint32_t StartAutomaticallyState = 16;
/// The component ended its run itself (KOVAComponent::Finish).
inline constexpr uint32_t FinishedState = 32;

// Threading models.
inline constexpr int32_t Threaded = 1;
inline constexpr int32_t Sequential = 2;

/// Build number of this framework client; the major version is in bits 16
/// and up.
inline constexpr int32_t KernelBuild = 0x40900;
/// Key the engine passes to KOVAPckInit.
inline constexpr int32_t PackageKey = 0x80538;

} // namespace KOVA
