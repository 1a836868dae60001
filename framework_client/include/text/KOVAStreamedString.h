// Text built by appending texts and numbers with <<, as report texts are.
#pragma once

#include "text/KOVAStackedString.h"

#include <concepts>
#include <cstdint>
#include <string>
#include <string_view>

namespace KOVA {
/// Appends `value` to a KOVAStreamedString in lower-case hexadecimal without
/// leading zeros: `text << KOVA::Hex{0x2c}` appends "2c".
struct Hex {
    uint64_t value;
};
} // namespace KOVA

/// Not thread-safe (a value type).
class KOVAStreamedString : public KOVAStackedString {
public:
    using KOVAStackedString::KOVAStackedString;

    KOVAStreamedString& operator<<(std::string_view text)
    {
        text_ += text;
        return *this;
    }
    KOVAStreamedString& operator<<(const std::string& text)
    {
        text_ += text;
        return *this;
    }
    KOVAStreamedString& operator<<(const char* text)
    {
        text_ += text ? text : "";
        return *this;
    }
    KOVAStreamedString& operator<<(const KOVAStackedString& text)
    {
        text_ += text.Std();
        return *this;
    }
    KOVAStreamedString& operator<<(char c)
    {
        text_ += c;
        return *this;
    }
    /// Integers in decimal (signed or unsigned as their type says).
    template <std::integral T>
    requires(!std::same_as<T, char> && !std::same_as<T, bool>) KOVAStreamedString& operator<<(T value)
    {
        text_ += std::to_string(value);
        return *this;
    }
    KOVAStreamedString& operator<<(bool value)
    {
        text_ += value ? "true" : "false";
        return *this;
    }
    /// Floating-point numbers in the shortest form that reads back the same.
    KOVAStreamedString& operator<<(double value);
    KOVAStreamedString& operator<<(KOVA::Hex value);
};
