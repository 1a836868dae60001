#include "LifecycleComponent.h"

#include <thread>

namespace {

constexpr KOVAPropertyDefault kZero = KOVAPropertyDefault::Integer(0);
constexpr KOVAPropertyDefault kFalse = KOVAPropertyDefault::Bool(false);

const KOVAPropertyDefinition kProperties[] = {
    { "BirthUs", &kZero, "us", false, false, false, true, 0 },
    { "FailInBirth", &kFalse, nullptr, false, false, false, true, 0 },
    { "FailInCore", &kFalse, nullptr, false, false, false, true, 0 },
    { "DeathMs", &kZero, "ms", false, false, false, true, 0 },
    { nullptr, nullptr, nullptr, false, false, false, false, 0 },
};

const KOVAInputDefinition kInputs[] = {
    { "In", 0, &KOVA::FilterAny, KOVA::NeverSkippingReader, 1 },
    { "Numbers", 0, &KOVA::FilterInteger64, KOVA::SamplingReader, 1 },
    { nullptr, 0, nullptr, 0, 0 },
};

const KOVAOutputDefinition kOutputs[] = {
    { "Value", 0, { KOVA::Integer64, "", "" }, 1, 4, 1, 1 },
    { nullptr, 0, { 0, nullptr, nullptr }, 0, 0, 0, 0 },
};

void ping(KOVAModule* module, int32_t)
{
    static_cast<KOVATestLifecycle*>(module)->ReportInfo("ping");
}
const KOVAActionFunction kPing = { &ping, nullptr };
const KOVAActionDefinition kActions[] = {
    { "Ping", &kPing, false, { 0, 0, 0 } },
    { nullptr, nullptr, false, { 0, 0, 0 } },
};

} // namespace

const KOVAComponentDefinition KOVATestLifecycle::s_componentDefinition = {
    "TestLifecycle",
    "0.1.0",
    &KOVATestLifecycle::Instantiate,
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

KOVA_REGISTER_COMPONENT(KOVATestLifecycle, KOVATestLifecycle::s_componentDefinition);

void KOVATestLifecycle::Birth()
{
    if (GetBool("FailInBirth"))
        Error("[Birth] failing on purpose");
    const int64_t birthUs = GetInteger("BirthUs");
    if (birthUs != 0)
        Rest(birthUs);
}

void KOVATestLifecycle::Core()
{
    if (GetBool("FailInCore"))
        Error("[Core] failing on purpose");
    if (Input("In")->IsConnected()) {
        StartReading(Input("In"));
        return;
    }
    Rest(KOVA::Infinite);
}

void KOVATestLifecycle::Death()
{
    const int64_t deathMs = GetInteger("DeathMs");
    if (deathMs > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(deathMs));
    ReportInfo("[Death] ran");
}
