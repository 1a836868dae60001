#include "KOVAHostInt64Source.h"

namespace {

constexpr KOVAPropertyDefault kMode = KOVAPropertyDefault::Enum("Constant|Counter|Clock", 1);
constexpr KOVAPropertyDefault kValue = KOVAPropertyDefault::Integer(0);
constexpr KOVAPropertyDefault kPeriod = KOVAPropertyDefault::Integer(100000);
constexpr KOVAPropertyDefault kCount = KOVAPropertyDefault::Integer(0);

const KOVAPropertyDefinition kProperties[] = {
    { "Mode", &kMode, nullptr, false, false, false, true, 0 },
    { "Value", &kValue, nullptr, false, false, false, true, 0 },
    { "PeriodUs", &kPeriod, "us", false, false, false, true, KOVA::PropertySubTypeTime },
    { "Count", &kCount, nullptr, false, false, false, true, 0 },
    { nullptr, nullptr, nullptr, false, false, false, false, 0 },
};

const KOVAOutputDefinition kOutputs[] = {
    { "Value", 0, { KOVA::Integer64, "", "" }, 1, 16, 1, 1 },
    { nullptr, 0, { 0, nullptr, nullptr }, 0, 0, 0, 0 },
};

const KOVAInputDefinition kInputs[] = { { nullptr, 0, nullptr, 0, 0 } };
const KOVAActionDefinition kActions[] = { { nullptr, nullptr, false, { 0, 0, 0 } } };

} // namespace

const KOVAComponentDefinition KOVAHostInt64Source::s_componentDefinition = {
    "HostInt64Source",
    "1.0.0",
    &KOVAHostInt64Source::Instantiate,
    nullptr,
    nullptr,
    0,
    KOVA::AllEntries,
    kInputs,
    KOVA::AllEntries,
    kOutputs,
    KOVA::AllEntries,
    kProperties,
    KOVA::AllEntries,
    kActions,
    128,
    1,
    true,
    0,
};

KOVA_REGISTER_COMPONENT(KOVAHostInt64Source, KOVAHostInt64Source::s_componentDefinition);
KOVA_MODULE_MARKER(moduleDescr, "HostInt64Source", "1.0.0");

KOVAComponent* KOVAHostInt64Source::Instantiate(const char* name, const KOVAComponentDefinition* definition)
{
    return new KOVAHostInt64Source(name, definition);
}

void KOVAHostInt64Source::Birth()
{
    Get(Property("Mode"), mode_);
    Get(Property("Value"), value_);
    Get(Property("PeriodUs"), periodUs_);
    Get(Property("Count"), count_);
    sent_ = 0;
}

void KOVAHostInt64Source::Core()
{
    if (count_ > 0 && sent_ >= count_)
        Finish();
    {
        KOVA::OutputGuard<int64_t> sample(this, Output(0));
        if (!sample)
            return;
        const KOVATimestamp now = KOVA::CurrentTime();
        *sample.Get() = mode_ == 0 ? value_ : mode_ == 1 ? value_ + sent_ : now;
        sample.Element()->Timestamp() = now;
    }
    ++sent_;
    if (periodUs_ > 0)
        Rest(periodUs_);
}
