#include "KOVAHostInt64Source.h"

#include "abi/KOVATableEnd.h"
#include "abi/KOVAThreadedComponent.h"
#include "KOVAHostSourceProperties.h"

namespace {

constexpr KOVAPropertyDefault kMode = KOVAPropertyDefault::Enum("Constant|Counter|Clock", 1);
constexpr KOVAPropertyDefault kValue = KOVAPropertyDefault::Integer(0);
constexpr KOVAPropertyDefault kPeriod = KOVAPropertyDefault::Integer(100000);

const KOVAPropertyDefinition kProperties[] = {
    host_sources::row("Mode", &kMode, nullptr),
    host_sources::row("Value", &kValue, nullptr),
    host_sources::row("PeriodUs", &kPeriod, "us", KOVA::PropertySubTypeTime),
    host_sources::Count,
    KOVA::EndOfProperties,
};

const KOVAOutputDefinition kOutputs[] = {
    { .name = "Value",
      .reserved = 0,
      .type = { .code = KOVA::Integer64, .name = "", .unit = "" },
      .size = 1,
      .fifoSize = 16,
      .subsampling = 1,
      .shareable = 1 },
    KOVA::EndOfOutputs,
};

const KOVAInputDefinition kInputs[] = { KOVA::EndOfInputs };
const KOVAActionDefinition kActions[] = { KOVA::EndOfActions };

} // namespace

const KOVAComponentDefinition KOVAHostInt64Source::s_componentDefinition =
    KOVA::ThreadedComponent({ .name = "HostInt64Source",
                              .version = "1.0.0",
                              .instantiate = &KOVAHostInt64Source::Instantiate,
                              .inputs = kInputs,
                              .outputs = kOutputs,
                              .properties = kProperties,
                              .actions = kActions });

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
