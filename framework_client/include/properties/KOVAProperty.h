// One property of a component instance: a named value of one of the five
// kinds, with its unit, flags and subtype.
#pragma once

#include "abi/KOVAComponentDefinition.h"
#include "abi/KOVAPropertyPort.h"
#include "properties/KOVAEnumStruct.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

/// Thread-safe: the value is guarded by the property's own mutex.
///
/// The framework side (the component's Get and Set operations) reads and
/// writes any value; the engine side (KOVAPropertyPort) refuses read-only
/// properties and, while the owning component runs, properties that cannot
/// be modified after start.
class KOVAProperty final : public KOVAPropertyPort {
public:
    /// A property of `kind` with the value of `initial` (of the same kind).
    /// `ownerState` (may be null) is the owning component's module state.
    KOVAProperty(std::string name, const KOVAPropertyDefault& initial, const char* unit, uint32_t flags,
                 int32_t subtype, const std::atomic<uint32_t>* ownerState);
    /// From a definition table entry; a null default value counts as an
    /// empty text.
    static std::unique_ptr<KOVAProperty> FromDefinition(const KOVAPropertyDefinition& definition,
                                                        const std::atomic<uint32_t>* ownerState);

    /// Limits an integer property to `minimum` .. `maximum`.
    void SetRange(int64_t minimum, int64_t maximum);

    const std::string& GetName() const { return name_; }

    // Framework side. Each Read returns false when the value cannot be read
    // as that kind: bool from bool or integer; integer from integer, bool,
    // float (truncated) or enumeration (selected index); float from float or
    // integer; text from every kind (its text form, for an enumeration the
    // selected choice); enumeration from an enumeration only.
    bool ReadBool(bool& value) const;
    bool ReadInteger(int64_t& value) const;
    bool ReadFloat(double& value) const;
    bool ReadText(std::string& value) const;
    bool ReadEnum(KOVAEnumStruct& value) const;
    // Each Write returns false with the reason in `why` for a value of
    // another kind or out of range; rules as for the engine setters, without
    // the flag checks.
    bool WriteBool(bool value, std::string& why);
    bool WriteInteger(int64_t value, std::string& why);
    bool WriteFloat(double value, std::string& why);
    bool WriteText(const std::string& value, std::string& why);
    bool WriteEnum(const KOVAEnumStruct& value, std::string& why);

    // KOVAPropertyPort
    const char* Name() const noexcept override { return name_.c_str(); }
    int32_t Kind() const noexcept override { return kind_; }
    const char* Unit() const noexcept override { return unit_ ? unit_->c_str() : nullptr; }
    uint32_t Flags() const noexcept override { return flags_; }
    int32_t Subtype() const noexcept override { return subtype_; }
    int32_t SetBool(bool value, KOVATextReceiver& why) noexcept override;
    int32_t SetInteger(int64_t value, KOVATextReceiver& why) noexcept override;
    int32_t SetFloat(double value, KOVATextReceiver& why) noexcept override;
    int32_t SetText(const char* value, KOVATextReceiver& why) noexcept override;
    void ValueText(KOVATextReceiver& out) const noexcept override;
    void ChoicesText(KOVATextReceiver& out) const noexcept override;

private:
    bool EngineMayChange(std::string& why) const;
    template <typename Fn>
    int32_t EngineSet(KOVATextReceiver& why, Fn write) noexcept;
    std::string TextLocked() const;

    const std::string name_;
    const int32_t kind_;
    const std::optional<std::string> unit_;
    const uint32_t flags_;
    const int32_t subtype_;
    const std::atomic<uint32_t>* const ownerState_;

    mutable std::mutex mutex_; ///< guards the value fields and the range below
    bool bool_ = false;
    int64_t integer_ = 0;
    double float_ = 0.0;
    std::string text_;
    KOVAEnumStruct enum_;
    std::optional<int64_t> minimum_;
    std::optional<int64_t> maximum_;
};
