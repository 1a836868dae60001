#include "TestComponent.h"

#include "abi/KOVATableEnd.h"
namespace {

constexpr KOVAPropertyDefault kFlag = KOVAPropertyDefault::Bool(false);
constexpr KOVAPropertyDefault kNumber = KOVAPropertyDefault::Integer(42);
constexpr KOVAPropertyDefault kFormat = KOVAPropertyDefault::Enum("A|B|C", 1);
constexpr KOVAPropertyDefault kLabel = KOVAPropertyDefault::Text("label");

const KOVAPropertyDefinition kProperties[] = {
    { .name = "Flag",
      .value = &kFlag,
      .unit = nullptr,
      .needs2BeInitialized = false,
      .canBeModifiedAfterStart = true,
      .readOnly = false,
      .locked = true,
      .subtype = 0 },
    { .name = "Number",
      .value = &kNumber,
      .unit = nullptr,
      .needs2BeInitialized = false,
      .canBeModifiedAfterStart = false,
      .readOnly = false,
      .locked = true,
      .subtype = 0 },
    { .name = "Format",
      .value = &kFormat,
      .unit = nullptr,
      .needs2BeInitialized = false,
      .canBeModifiedAfterStart = false,
      .readOnly = false,
      .locked = true,
      .subtype = 0 },
    { .name = "Label",
      .value = &kLabel,
      .unit = nullptr,
      .needs2BeInitialized = false,
      .canBeModifiedAfterStart = false,
      .readOnly = false,
      .locked = true,
      .subtype = 0 },
    KOVA::EndOfProperties,
};

const KOVAInputDefinition kInputs[] = {
    { .name = "In",
      .reserved = 0,
      .typeFilter = &KOVA::FilterInteger64,
      .readerType = KOVA::NeverSkippingReader,
      .subsampling = 1 },
    { .name = "Extra",
      .reserved = 0,
      .typeFilter = &KOVA::FilterAny,
      .readerType = KOVA::SamplingReader,
      .subsampling = 1 },
    { .name = "Late",
      .reserved = 0,
      .typeFilter = &KOVA::FilterInteger64,
      .readerType = KOVA::SamplingReader,
      .subsampling = 1 },
    KOVA::EndOfInputs,
};

const KOVAOutputDefinition kOutputs[] = {
    { .name = "Out",
      .reserved = 0,
      .type = { .code = KOVA::Integer64, .name = "", .unit = "" },
      .size = 1,
      .fifoSize = 4,
      .subsampling = 1,
      .shareable = 1 },
    { .name = "Image",
      .reserved = 0,
      .type = { .code = KOVA::IplImage, .name = "", .unit = "" },
      .size = 0,
      .fifoSize = 2,
      .subsampling = 1,
      .shareable = 1 },
    KOVA::EndOfOutputs,
};

void poke(KOVAModule* module, int32_t)
{
    static_cast<KOVATestComponent*>(module)->ReportInfo("poked");
}

const KOVAActionFunction kPoke = { .function = &poke, .functionWithArgument = nullptr };

const KOVAActionDefinition kActions[] = {
    { .name = "Poke", .action = &kPoke, .allowedWhenComponentDead = false, .reserved = { 0, 0, 0 } },
    { .name = "Anytime", .action = &kPoke, .allowedWhenComponentDead = true, .reserved = { 0, 0, 0 } },
    KOVA::EndOfActions,
};

const KOVAComponentDefinition kDefinition = {
    .name = "TestComponent",
    .version = "2.0.0",
    .instFunct = &KOVATestComponent::Instantiate,
    .regFunct = nullptr,
    .unregFunct = nullptr,
    .maxNumberOfInstances = 0,
    .nbInputs = 2,
    .inputs = kInputs,
    .nbOutputs = KOVA::AllEntries,
    .outputs = kOutputs,
    .nbProperties = KOVA::AllEntries,
    .properties = kProperties,
    .nbActions = KOVA::AllEntries,
    .actions = kActions,
    .priority = 128,
    .kind = 1,
    .threaded = true,
    .reserved = 0,
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
