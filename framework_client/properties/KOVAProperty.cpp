#include "properties/KOVAProperty.h"

#include "types/KOVATypeNames.h"

#include <charconv>
#include <cmath>
#include <cstring>

namespace {

const char* kindName(int32_t kind)
{
    switch (kind) {
    case KOVA::BoolProperty:
        return "boolean";
    case KOVA::IntegerProperty:
        return "integer";
    case KOVA::FloatProperty:
        return "float";
    case KOVA::StringProperty:
        return "text";
    case KOVA::EnumProperty:
        return "enumeration";
    default:
        return "unknown";
    }
}

std::string floatText(double value)
{
    char buffer[32];
    const auto r = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, r.ptr);
}

} // namespace

KOVAProperty::KOVAProperty(std::string name, const KOVAPropertyDefault& initial, const char* unit, uint32_t flags,
                           int32_t subtype, const std::atomic<uint32_t>* ownerState)
    : name_(std::move(name))
    , kind_(initial.kind)
    , unit_(unit ? std::optional<std::string>(unit) : std::nullopt)
    , flags_(flags)
    , subtype_(subtype)
    , ownerState_(ownerState)
{
    switch (kind_) {
    case KOVA::BoolProperty:
        bool_ = initial.boolValue;
        break;
    case KOVA::IntegerProperty:
        integer_ = initial.integerValue;
        break;
    case KOVA::FloatProperty:
        float_ = initial.floatValue;
        break;
    case KOVA::EnumProperty:
        enum_ = KOVAEnumStruct(initial.text, initial.enumIndex);
        break;
    default:
        text_ = initial.text ? initial.text : "";
        break;
    }
}

std::unique_ptr<KOVAProperty> KOVAProperty::FromDefinition(const KOVAPropertyDefinition& definition,
                                                           const std::atomic<uint32_t>* ownerState)
{
    const KOVAPropertyDefault initial = definition.value ? *definition.value : KOVAPropertyDefault::Text("");
    uint32_t flags = 0;
    if (definition.needs2BeInitialized)
        flags |= KOVA::PropertyNeeds2BeInitialized;
    if (definition.canBeModifiedAfterStart)
        flags |= KOVA::PropertyCanBeModifiedAfterStart;
    if (definition.readOnly)
        flags |= KOVA::PropertyReadOnly;
    if (definition.locked)
        flags |= KOVA::PropertyLocked;
    return std::make_unique<KOVAProperty>(definition.name, initial, definition.unit, flags, definition.subtype,
                                          ownerState);
}

void KOVAProperty::SetRange(int64_t minimum, int64_t maximum)
{
    const std::lock_guard lock(mutex_);
    minimum_ = minimum;
    maximum_ = maximum;
}

bool KOVAProperty::ReadBool(bool& value) const
{
    const std::lock_guard lock(mutex_);
    if (kind_ == KOVA::BoolProperty)
        value = bool_;
    else if (kind_ == KOVA::IntegerProperty)
        value = integer_ != 0;
    else
        return false;
    return true;
}

bool KOVAProperty::ReadInteger(int64_t& value) const
{
    const std::lock_guard lock(mutex_);
    switch (kind_) {
    case KOVA::IntegerProperty:
        value = integer_;
        return true;
    case KOVA::BoolProperty:
        value = bool_ ? 1 : 0;
        return true;
    case KOVA::FloatProperty:
        if (!std::isfinite(float_) || std::fabs(float_) >= 9.2e18)
            return false;
        value = static_cast<int64_t>(float_);
        return true;
    case KOVA::EnumProperty:
        value = enum_.Selected();
        return true;
    default:
        return false;
    }
}

bool KOVAProperty::ReadFloat(double& value) const
{
    const std::lock_guard lock(mutex_);
    if (kind_ == KOVA::FloatProperty)
        value = float_;
    else if (kind_ == KOVA::IntegerProperty)
        value = static_cast<double>(integer_);
    else
        return false;
    return true;
}

std::string KOVAProperty::TextLocked() const
{
    switch (kind_) {
    case KOVA::BoolProperty:
        return bool_ ? "true" : "false";
    case KOVA::IntegerProperty:
        return std::to_string(integer_);
    case KOVA::FloatProperty:
        return floatText(float_);
    case KOVA::EnumProperty:
        return enum_.SelectedText();
    default:
        return text_;
    }
}

bool KOVAProperty::ReadText(std::string& value) const
{
    const std::lock_guard lock(mutex_);
    value = TextLocked();
    return true;
}

bool KOVAProperty::ReadEnum(KOVAEnumStruct& value) const
{
    const std::lock_guard lock(mutex_);
    if (kind_ != KOVA::EnumProperty)
        return false;
    value = enum_;
    return true;
}

bool KOVAProperty::WriteBool(bool value, std::string& why)
{
    const std::lock_guard lock(mutex_);
    if (kind_ != KOVA::BoolProperty) {
        why = "property \"" + name_ + "\" is of kind " + kindName(kind_) + ", not boolean";
        return false;
    }
    bool_ = value;
    return true;
}

bool KOVAProperty::WriteInteger(int64_t value, std::string& why)
{
    const std::lock_guard lock(mutex_);
    switch (kind_) {
    case KOVA::IntegerProperty:
        if ((minimum_ && value < *minimum_) || (maximum_ && value > *maximum_)) {
            why = "value " + std::to_string(value) + " of property \"" + name_ + "\" is outside its range " +
                std::to_string(*minimum_) + " to " + std::to_string(*maximum_);
            return false;
        }
        integer_ = value;
        return true;
    case KOVA::FloatProperty:
        float_ = static_cast<double>(value);
        return true;
    case KOVA::EnumProperty:
        if (value != static_cast<int32_t>(value) || !enum_.SelectIndex(static_cast<int32_t>(value))) {
            why = "index " + std::to_string(value) + " is not a choice of property \"" + name_ + "\" (" +
                std::to_string(enum_.Count()) + " choices: " + enum_.ChoicesText() + ")";
            return false;
        }
        return true;
    default:
        why = "property \"" + name_ + "\" is of kind " + kindName(kind_) + ", not integer";
        return false;
    }
}

bool KOVAProperty::WriteFloat(double value, std::string& why)
{
    const std::lock_guard lock(mutex_);
    if (kind_ != KOVA::FloatProperty) {
        why = "property \"" + name_ + "\" is of kind " + kindName(kind_) + ", not float";
        return false;
    }
    float_ = value;
    return true;
}

bool KOVAProperty::WriteText(const std::string& value, std::string& why)
{
    const std::lock_guard lock(mutex_);
    if (kind_ == KOVA::StringProperty) {
        text_ = value;
        return true;
    }
    if (kind_ == KOVA::EnumProperty) {
        KOVAEnumStruct candidate = enum_;
        if (!candidate.Select(value)) {
            why = "\"" + value + "\" is not a choice of property \"" + name_ + "\" (choices: " + enum_.ChoicesText() +
                ")";
            return false;
        }
        enum_ = candidate;
        return true;
    }
    why = "property \"" + name_ + "\" is of kind " + kindName(kind_) + ", not text";
    return false;
}

bool KOVAProperty::WriteEnum(const KOVAEnumStruct& value, std::string& why)
{
    const std::lock_guard lock(mutex_);
    if (kind_ != KOVA::EnumProperty) {
        why = "property \"" + name_ + "\" is of kind " + kindName(kind_) + ", not enumeration";
        return false;
    }
    enum_ = value;
    return true;
}

bool KOVAProperty::EngineMayChange(std::string& why) const
{
    if (flags_ & KOVA::PropertyReadOnly) {
        why = "property \"" + name_ + "\" is read-only";
        return false;
    }
    const uint32_t state = ownerState_ ? ownerState_->load(std::memory_order_acquire) : KOVA::DeadState;
    if ((state & KOVA::LivingState) && !(flags_ & KOVA::PropertyCanBeModifiedAfterStart)) {
        why = "property \"" + name_ + "\" cannot be changed while the component runs";
        return false;
    }
    return true;
}

template <typename Fn>
int32_t KOVAProperty::EngineSet(KOVATextReceiver& why, Fn write) noexcept
{
    try {
        std::string reason;
        if (!EngineMayChange(reason) || !write(reason)) {
            KOVA::Give(why, reason);
            return KOVA::Refused;
        }
        return KOVA::NoError;
    } catch (const std::exception& e) {
        KOVA::Give(why, e.what());
        return KOVA::Refused;
    }
}

int32_t KOVAProperty::SetBool(bool value, KOVATextReceiver& why) noexcept
{
    return EngineSet(why, [&](std::string& reason) { return WriteBool(value, reason); });
}

int32_t KOVAProperty::SetInteger(int64_t value, KOVATextReceiver& why) noexcept
{
    return EngineSet(why, [&](std::string& reason) { return WriteInteger(value, reason); });
}

int32_t KOVAProperty::SetFloat(double value, KOVATextReceiver& why) noexcept
{
    return EngineSet(why, [&](std::string& reason) { return WriteFloat(value, reason); });
}

int32_t KOVAProperty::SetText(const char* value, KOVATextReceiver& why) noexcept
{
    return EngineSet(why, [&](std::string& reason) { return WriteText(value ? value : "", reason); });
}

void KOVAProperty::ValueText(KOVATextReceiver& out) const noexcept
{
    try {
        const std::lock_guard lock(mutex_);
        KOVA::Give(out, TextLocked());
    } catch (...) {
        out.Receive("", 0);
    }
}

void KOVAProperty::ChoicesText(KOVATextReceiver& out) const noexcept
{
    try {
        const std::lock_guard lock(mutex_);
        KOVA::Give(out, kind_ == KOVA::EnumProperty ? enum_.ChoicesText() : std::string());
    } catch (...) {
        out.Receive("", 0);
    }
}
