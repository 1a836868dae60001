// Default value object of a property definition. Plain data, built at
// compile time or while the library loads, and read by the engine.
#pragma once

#include "abi/KOVAConstants.h"

#include <cstddef>
#include <cstdint>

/// Layout (x86_64, 40 bytes):
///
///    0 kind (KOVA::BoolProperty .. KOVA::EnumProperty)  4 enumIndex
///    8 boolValue  16 integerValue  24 floatValue  32 text*
///
/// Only the field of `kind` is meaningful; an enumeration keeps its choices
/// text ("YUV422|Mono") in `text` and the selected index in `enumIndex`.
struct KOVAPropertyDefault {
    int32_t kind;
    int32_t enumIndex;
    bool boolValue;
    int64_t integerValue;
    double floatValue;
    const char* text;

    static constexpr KOVAPropertyDefault Bool(bool value) { return { KOVA::BoolProperty, -1, value, 0, 0.0, nullptr }; }
    static constexpr KOVAPropertyDefault Integer(int64_t value)
    {
        return { KOVA::IntegerProperty, -1, false, value, 0.0, nullptr };
    }
    static constexpr KOVAPropertyDefault Float(double value)
    {
        return { KOVA::FloatProperty, -1, false, 0, value, nullptr };
    }
    static constexpr KOVAPropertyDefault Text(const char* value)
    {
        return { KOVA::StringProperty, -1, false, 0, 0.0, value };
    }
    /// `choices` separated by "|", `selected` the index of the default choice.
    static constexpr KOVAPropertyDefault Enum(const char* choices, int32_t selected)
    {
        return { KOVA::EnumProperty, selected, false, 0, 0.0, choices };
    }
};

static_assert(sizeof(KOVAPropertyDefault) == 40);
static_assert(offsetof(KOVAPropertyDefault, enumIndex) == 4);
static_assert(offsetof(KOVAPropertyDefault, boolValue) == 8);
static_assert(offsetof(KOVAPropertyDefault, integerValue) == 16);
static_assert(offsetof(KOVAPropertyDefault, floatValue) == 24);
static_assert(offsetof(KOVAPropertyDefault, text) == 32);
