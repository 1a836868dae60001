#include "LifecycleComponent.h"

#include "abi/KOVATableEnd.h"
#include "abi/KOVAThreadedComponent.h"
#include <thread>

namespace {

constexpr KOVAPropertyDefault kZero = KOVAPropertyDefault::Integer(0);
constexpr KOVAPropertyDefault kFalse = KOVAPropertyDefault::Bool(false);

const KOVAPropertyDefinition kProperties[] = {
    { .name = "BirthUs",
      .value = &kZero,
      .unit = "us",
      .needs2BeInitialized = false,
      .canBeModifiedAfterStart = false,
      .readOnly = false,
      .locked = true,
      .subtype = 0 },
    { .name = "FailInBirth",
      .value = &kFalse,
      .unit = nullptr,
      .needs2BeInitialized = false,
      .canBeModifiedAfterStart = false,
      .readOnly = false,
      .locked = true,
      .subtype = 0 },
    { .name = "FailInCore",
      .value = &kFalse,
      .unit = nullptr,
      .needs2BeInitialized = false,
      .canBeModifiedAfterStart = false,
      .readOnly = false,
      .locked = true,
      .subtype = 0 },
    { .name = "HoldUs",
      .value = &kZero,
      .unit = "us",
      .needs2BeInitialized = false,
      .canBeModifiedAfterStart = false,
      .readOnly = false,
      .locked = true,
      .subtype = 0 },
    { .name = "DeathMs",
      .value = &kZero,
      .unit = "ms",
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
      .typeFilter = &KOVA::FilterAny,
      .readerType = KOVA::NeverSkippingReader,
      .subsampling = 1 },
    { .name = "Numbers",
      .reserved = 0,
      .typeFilter = &KOVA::FilterInteger64,
      .readerType = KOVA::SamplingReader,
      .subsampling = 1 },
    KOVA::EndOfInputs,
};

const KOVAOutputDefinition kOutputs[] = {
    { .name = "Value",
      .reserved = 0,
      .type = { .code = KOVA::Integer64, .name = "", .unit = "" },
      .size = 1,
      .fifoSize = 4,
      .subsampling = 1,
      .shareable = 1 },
    KOVA::EndOfOutputs,
};

void ping(KOVAModule* module, int32_t)
{
    static_cast<KOVATestLifecycle*>(module)->ReportInfo("ping");
}
const KOVAActionFunction kPing = { .function = &ping, .functionWithArgument = nullptr };
const KOVAActionDefinition kActions[] = {
    { .name = "Ping", .action = &kPing, .allowedWhenComponentDead = false, .reserved = { 0, 0, 0 } },
    KOVA::EndOfActions,
};

} // namespace

const KOVAComponentDefinition KOVATestLifecycle::s_componentDefinition =
    KOVA::ThreadedComponent({ .name = "TestLifecycle",
                              .version = "0.1.0",
                              .instantiate = &KOVATestLifecycle::Instantiate,
                              .inputs = kInputs,
                              .outputs = kOutputs,
                              .properties = kProperties,
                              .actions = kActions });

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
        KOVAIOElt* sample = StartReading(Input("In"));
        const int64_t holdUs = GetInteger("HoldUs");
        if (sample != nullptr && holdUs > 0) {
            // Rests with the sample in hand, as a component that waits
            // until it can pass the sample on.
            Rest(holdUs);
            ++handled_;
            KOVAStreamedString text;
            text << "[Core] handled sample " << handled_;
            ReportInfo(text);
            StopReading(Input("In"));
        }
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
