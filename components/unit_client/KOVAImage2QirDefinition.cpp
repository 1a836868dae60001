// What the engine sees of "VxQirUnitClient": its definition tables, its
// registration, instantiation and the dynamic inputs.
#include "KOVAImage2Qir.h"

#include "abi/KOVATableEnd.h"
#include "csi2/KOVAMipiCsi2Frame.h"

namespace {

// IplImage, KOVAImage, Stream8 or DynamicStructure; the empty alternative of
// the name expression accepts any type name. Which of them can really be
// sent is decided by the first sample of a run.
const KOVATypeFilterBase CustomImageFilter(0, 0, 0x41060, "|KOVAMipiCsi2Frame", nullptr);

const KOVAInputDefinition inputsDefinition[] = {
    { .name = "SensorDataIn",
      .reserved = 0,
      .typeFilter = &CustomImageFilter,
      .readerType = KOVA::NeverSkippingReader,
      .subsampling = 1 },
    { .name = "LoggingStartTime",
      .reserved = 0,
      .typeFilter = &KOVA::FilterInteger64,
      .readerType = KOVA::SamplingReader,
      .subsampling = 1 },
    { .name = "ReplayStartTime",
      .reserved = 0,
      .typeFilter = &KOVA::FilterInteger64,
      .readerType = KOVA::SamplingReader,
      .subsampling = 1 },
    { .name = "ReplayStopTime",
      .reserved = 0,
      .typeFilter = &KOVA::FilterInteger64,
      .readerType = KOVA::SamplingReader,
      .subsampling = 1 },
    KOVA::EndOfInputs,
};

const KOVAOutputDefinition outputsDefinition[] = {
    { .name = "oReplayStateInfo",
      .reserved = 0,
      .type = { KOVA::Structure, "VXTQirStatusT", "" },
      .size = sizeof(VXTQirStatusT),
      .fifoSize = 16,
      .subsampling = 1,
      .shareable = 1 },
    { .name = "oSystemTime_us",
      .reserved = 0,
      .type = { KOVA::Integer64, "", "" },
      .size = 1,
      .fifoSize = 16,
      .subsampling = 1,
      .shareable = 1 },
    { .name = nullptr,
      .reserved = 0,
      .type = { 0, nullptr, nullptr },
      .size = 0,
      .fifoSize = 0,
      .subsampling = 0,
      .shareable = 0 },
};
static_assert(sizeof(VXTQirStatusT) == 16);

// Default unit addresses: the unit's factory addresses on its private
// control and data networks. Graphs on a desk set their own.
constexpr KOVAPropertyDefault kFalse = KOVAPropertyDefault::Bool(false);
constexpr KOVAPropertyDefault kTrue = KOVAPropertyDefault::Bool(true);
constexpr KOVAPropertyDefault kCommunication = KOVAPropertyDefault::Text("Communication");
constexpr KOVAPropertyDefault kControlIp = KOVAPropertyDefault::Text("192.168.140.10");
constexpr KOVAPropertyDefault kControlPort = KOVAPropertyDefault::Integer(65024);
constexpr KOVAPropertyDefault kDataIp = KOVAPropertyDefault::Text("192.168.141.10");
constexpr KOVAPropertyDefault kDataBasePort = KOVAPropertyDefault::Integer(61440);
constexpr KOVAPropertyDefault kChannelNumber = KOVAPropertyDefault::Integer(0);
constexpr KOVAPropertyDefault kLocalIp = KOVAPropertyDefault::Text("0.0.0.0");
constexpr KOVAPropertyDefault kLocalPort = KOVAPropertyDefault::Integer(30010);
constexpr KOVAPropertyDefault kMaxPayload = KOVAPropertyDefault::Integer(8948);
constexpr KOVAPropertyDefault kTimeoutGet = KOVAPropertyDefault::Integer(50000);
constexpr KOVAPropertyDefault kTimeoutStream = KOVAPropertyDefault::Integer(50000);
constexpr KOVAPropertyDefault kStatusPeriod = KOVAPropertyDefault::Integer(500000);
constexpr KOVAPropertyDefault kDebug = KOVAPropertyDefault::Text("Debug");

constexpr KOVAPropertyDefinition ordinary(const char* name, const KOVAPropertyDefault* value)
{
    return { .name = name,
             .value = value,
             .unit = nullptr,
             .needs2BeInitialized = false,
             .canBeModifiedAfterStart = false,
             .readOnly = false,
             .locked = true,
             .subtype = KOVA::PropertySubTypeNone };
}

constexpr KOVAPropertyDefinition section(const char* name, const KOVAPropertyDefault* value, int32_t subtype)
{
    return { .name = name,
             .value = value,
             .unit = nullptr,
             .needs2BeInitialized = false,
             .canBeModifiedAfterStart = false,
             .readOnly = true,
             .locked = true,
             .subtype = subtype };
}

const KOVAPropertyDefinition propertiesDefinition[] = {
    ordinary("StartStopTimeInputs", &kFalse),
    section("com_begin", &kCommunication, KOVA::PropertySubTypeBeginSubSection),
    ordinary("QirControlIP", &kControlIp),
    ordinary("QirControlPort", &kControlPort),
    ordinary("SensorDataIP", &kDataIp),
    ordinary("SensorDataBasePort", &kDataBasePort),
    ordinary("ChannelNumber", &kChannelNumber),
    ordinary("LocalControlIP", &kLocalIp),
    ordinary("LocalControlPort", &kLocalPort),
    ordinary("MaxPayLoadSize", &kMaxPayload),
    ordinary("TimeoutGet", &kTimeoutGet),
    ordinary("TimeoutStream", &kTimeoutStream),
    ordinary("StatusUpdatePeriod", &kStatusPeriod),
    section("com_end", &kTrue, KOVA::PropertySubTypeEndSubSection),
    section("debug_begin", &kDebug, KOVA::PropertySubTypeBeginSubSection),
    ordinary("Verbose", &kFalse),
    ordinary("WaitForStartTime", &kFalse),
    ordinary("SkipCsi2Preamble", &kTrue),
    ordinary("SkipCsi2ShortPackages", &kFalse),
    ordinary("Unregister_Channel", &kFalse),
    section("debug_end", &kFalse, KOVA::PropertySubTypeEndSubSection),
    KOVA::EndOfProperties,
};

const KOVAActionFunction kResetChannel{ .function = &KOVAImage2Qir::ResetQirChannel, .functionWithArgument = nullptr };
const KOVAActionFunction kClearStatusFlags{ .function = &KOVAImage2Qir::ClearStatusFlags,
                                            .functionWithArgument = nullptr };

const KOVAActionDefinition actionsDefinition[] = {
    { .name = "ResetChannel", .action = &kResetChannel, .allowedWhenComponentDead = false, .reserved = { 0, 0, 0 } },
    { .name = "ClearStatusFlags",
      .action = &kClearStatusFlags,
      .allowedWhenComponentDead = false,
      .reserved = { 0, 0, 0 } },
    KOVA::EndOfActions,
};

} // namespace

const KOVAComponentDefinition KOVAImage2Qir::s_componentDefinition = {
    .name = "VxQirUnitClient",
    .version = "3.1.2",
    .instFunct = &KOVAImage2Qir::Instantiate,
    .regFunct = nullptr,
    .unregFunct = nullptr,
    .maxNumberOfInstances = 0,
    .nbInputs = 2, // the start and stop inputs come from Dynamic
    .inputs = inputsDefinition,
    .nbOutputs = KOVA::AllEntries,
    .outputs = outputsDefinition,
    .nbProperties = KOVA::AllEntries,
    .properties = propertiesDefinition,
    .nbActions = KOVA::AllEntries,
    .actions = actionsDefinition,
    .priority = 128,
    .kind = 1,
    .threaded = true,
    .reserved = 0,
};

KOVA_REGISTER_COMPONENT(KOVAImage2Qir, KOVAImage2Qir::s_componentDefinition);
KOVA_MODULE_MARKER(moduleDescr, "VxQirUnitClient", "3.1.2");

KOVAComponent* KOVAImage2Qir::Instantiate(const char* name, const KOVAComponentDefinition* definition)
{
    return new KOVAImage2Qir(name, definition);
}

KOVAImage2Qir::KOVAImage2Qir(const char* name, const KOVAComponentDefinition* definition)
    : KOVAComponent(name, definition)
{
    // One batched send covers up to this many blocks of a sample.
    constexpr size_t kBatchBlocks = 256;
    pendingBlocks_.reserve(kBatchBlocks);
}

KOVAImage2Qir::~KOVAImage2Qir() = default;

void KOVAImage2Qir::Dynamic()
{
    bool useStartStop = false;
    Get(Property("StartStopTimeInputs"), useStartStop);
    use_add_ts_inputs_ = useStartStop;
    if (use_add_ts_inputs_) {
        NewInput("ReplayStartTime");
        NewInput("ReplayStopTime");
    }
}
