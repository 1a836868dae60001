#include "TestComponent.h"

namespace {

constexpr KOVAPropertyDefault kFlag = KOVAPropertyDefault::Bool(false);
constexpr KOVAPropertyDefault kNumber = KOVAPropertyDefault::Integer(42);
constexpr KOVAPropertyDefault kFormat = KOVAPropertyDefault::Enum("A|B|C", 1);
constexpr KOVAPropertyDefault kLabel = KOVAPropertyDefault::Text("label");

const KOVAPropertyDefinition kProperties[] = {
    { "Flag", &kFlag, nullptr, false, true, false, true, 0 },
    { "Number", &kNumber, nullptr, false, false, false, true, 0 },
    { "Format", &kFormat, nullptr, false, false, false, true, 0 },
    { "Label", &kLabel, nullptr, false, false, false, true, 0 },
    { nullptr, nullptr, nullptr, false, false, false, false, 0 },
};

const KOVAInputDefinition kInputs[] = {
    { "In", 0, &KOVA::FilterInteger64, KOVA::NeverSkippingReader, 1 },
    { "Extra", 0, &KOVA::FilterAny, KOVA::SamplingReader, 1 },
    { "Late", 0, &KOVA::FilterInteger64, KOVA::SamplingReader, 1 },
    { nullptr, 0, nullptr, 0, 0 },
};

const KOVAOutputDefinition kOutputs[] = {
    { "Out", 0, { KOVA::Integer64, "", "" }, 1, 4, 1, 1 },
    { "Image", 0, { KOVA::IplImage, "", "" }, 0, 2, 1, 1 },
    { nullptr, 0, { 0, nullptr, nullptr }, 0, 0, 0, 0 },
};

void poke(KOVAModule* module, int32_t)
{
    static_cast<KOVATestComponent*>(module)->ReportInfo("poked");
}

const KOVAActionFunction kPoke = { &poke, nullptr };

const KOVAActionDefinition kActions[] = {
    { "Poke", &kPoke, false, { 0, 0, 0 } },
    { "Anytime", &kPoke, true, { 0, 0, 0 } },
    { nullptr, nullptr, false, { 0, 0, 0 } },
};

const KOVAComponentDefinition kDefinition = {
    "TestComponent",
    "2.0.0",
    &KOVATestComponent::Instantiate,
    nullptr,
    nullptr,
    0,
    2,
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

} // namespace

const KOVAComponentDefinition& KOVATestComponent::StandardDefinition()
{
    return kDefinition;
}

std::unique_ptr<KOVATestComponent, void (*)(KOVATestComponent*)> KOVATestComponent::Make(const char* name)
{
    TestKernel::Installed();
    return { new KOVATestComponent(name, &kDefinition), [](KOVATestComponent* c) { c->EngineDestroy(); } };
}
