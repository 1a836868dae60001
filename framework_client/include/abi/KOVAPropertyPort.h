// The engine's view of one property of a component instance.
#pragma once

#include "abi/KOVATextReceiver.h"

#include <cstdint>

namespace KOVA {
// Bits of KOVAPropertyPort::Flags.
inline constexpr uint32_t PropertyNeeds2BeInitialized = 1;
inline constexpr uint32_t PropertyCanBeModifiedAfterStart = 2;
inline constexpr uint32_t PropertyReadOnly = 4;
inline constexpr uint32_t PropertyLocked = 8;
} // namespace KOVA

/// Thread-safe. Each setter returns KOVA::NoError, or KOVA::Refused with the
/// reason in `why`: a read-only property, a value of another kind, a value
/// out of range, an unknown enumeration choice, or a change while the
/// component runs that the property does not allow.
class KOVAPropertyPort {
public:
    virtual const char* Name() const noexcept = 0;
    virtual int32_t Kind() const noexcept = 0; ///< KOVA::BoolProperty .. KOVA::EnumProperty
    virtual const char* Unit() const noexcept = 0;
    virtual uint32_t Flags() const noexcept = 0;
    virtual int32_t Subtype() const noexcept = 0;

    virtual int32_t SetBool(bool value, KOVATextReceiver& why) noexcept = 0;
    /// Integer properties; also selects an enumeration choice by index, and
    /// sets a float property.
    virtual int32_t SetInteger(int64_t value, KOVATextReceiver& why) noexcept = 0;
    virtual int32_t SetFloat(double value, KOVATextReceiver& why) noexcept = 0;
    /// Text properties; also selects an enumeration choice by its text.
    virtual int32_t SetText(const char* value, KOVATextReceiver& why) noexcept = 0;

    /// The current value as text ("true", "42", "0.5", the text, the selected
    /// choice).
    virtual void ValueText(KOVATextReceiver& out) const noexcept = 0;
    /// Enumerations: the choices separated by "|"; other kinds: empty.
    virtual void ChoicesText(KOVATextReceiver& out) const noexcept = 0;

protected:
    ~KOVAPropertyPort() = default;
};
