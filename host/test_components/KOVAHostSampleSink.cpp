#include "KOVAHostSampleSink.h"

#include "abi/KOVATableEnd.h"
#include "abi/KOVAThreadedComponent.h"
#include "KOVAHostSourceProperties.h"
#include "types/KOVATypeNames.h"

namespace {

constexpr KOVAPropertyDefault kPrint = KOVAPropertyDefault::Bool(false);
constexpr KOVAPropertyDefault kExpectSequence = KOVAPropertyDefault::Bool(false);

const KOVAPropertyDefinition kProperties[] = {
    { .name = "Print",
      .value = &kPrint,
      .unit = nullptr,
      .needs2BeInitialized = false,
      .canBeModifiedAfterStart = true,
      .readOnly = false,
      .locked = true,
      .subtype = 0 },
    host_sources::row("ExpectSequence", &kExpectSequence, nullptr),
    KOVA::EndOfProperties,
};

const KOVAInputDefinition kInputs[] = {
    { .name = "In",
      .reserved = 0,
      .typeFilter = &KOVA::FilterAny,
      .readerType = KOVA::NeverSkippingReader,
      .subsampling = 1 },
    KOVA::EndOfInputs,
};

const KOVAOutputDefinition kOutputs[] = { KOVA::EndOfOutputs };

const KOVAActionFunction kPrintSummary = { .function = &KOVAHostSampleSink::PrintSummary,
                                           .functionWithArgument = nullptr };
const KOVAActionFunction kResetCount = { .function = &KOVAHostSampleSink::ResetCount, .functionWithArgument = nullptr };

const KOVAActionDefinition kActions[] = {
    { .name = "PrintSummary", .action = &kPrintSummary, .allowedWhenComponentDead = true, .reserved = { 0, 0, 0 } },
    { .name = "ResetCount", .action = &kResetCount, .allowedWhenComponentDead = false, .reserved = { 0, 0, 0 } },
    KOVA::EndOfActions,
};

} // namespace

const KOVAComponentDefinition KOVAHostSampleSink::s_componentDefinition =
    KOVA::ThreadedComponent({ .name = "HostSampleSink",
                              .version = "1.0.0",
                              .instantiate = &KOVAHostSampleSink::Instantiate,
                              .inputs = kInputs,
                              .outputs = kOutputs,
                              .properties = kProperties,
                              .actions = kActions });

KOVA_REGISTER_COMPONENT(KOVAHostSampleSink, KOVAHostSampleSink::s_componentDefinition);
KOVA_MODULE_MARKER(moduleDescr, "HostSampleSink", "1.0.0");

KOVAComponent* KOVAHostSampleSink::Instantiate(const char* name, const KOVAComponentDefinition* definition)
{
    return new KOVAHostSampleSink(name, definition);
}

void KOVAHostSampleSink::Birth()
{
    Get(Property("ExpectSequence"), expectSequence_);
    samples_ = 0;
    bytes_ = 0;
    gaps_ = 0;
    haveValue_ = false;
}

KOVAStreamedString KOVAHostSampleSink::Describe(KOVAIOElt& element)
{
    KOVAStreamedString text;
    text << "sample " << samples_.load() << ": " << KOVA::TypeText(element.Type()) << ", t=" << element.Timestamp();
    if (const int64_t* value = element.Integer64())
        text << ", value " << *value;
    else if (const IplImage* image = element.IplImage())
        text << ", image " << image->width << "x" << image->height << "x" << image->nChannels << ", first byte "
             << static_cast<int>(static_cast<uint8_t>(image->imageData[0]));
    else
        text << ", " << element.IOEltUsedSizeInBytes() << " bytes";
    return text;
}

void KOVAHostSampleSink::Core()
{
    KOVAIOElt* element = StartReading(Input(0));
    if (!element) {
        Rest(10000); // not connected
        return;
    }
    ++samples_;
    bytes_ += static_cast<uint64_t>(element->IOEltUsedSizeInBytes());
    if (expectSequence_) {
        if (const int64_t* value = element->Integer64()) {
            if (haveValue_ && *value != lastValue_ + 1) {
                ++gaps_;
                ReportWarning((KOVAStreamedString() << "sequence gap: " << lastValue_ << " then " << *value));
            }
            lastValue_ = *value;
            haveValue_ = true;
        }
    }
    bool print = false;
    Get(Property("Print"), print);
    if (print)
        ReportInfo(Describe(*element));
    StopReading(Input(0));
}

KOVAStreamedString KOVAHostSampleSink::Summary() const
{
    KOVAStreamedString text;
    text << "Received " << samples_.load() << " samples (" << bytes_.load() << " bytes)";
    if (expectSequence_)
        text << ", " << gaps_.load() << " sequence gaps";
    return text;
}

void KOVAHostSampleSink::Death()
{
    ReportInfo(KOVAStreamedString("[Death] ") << Summary());
}

void KOVAHostSampleSink::PrintSummary(KOVAModule* module, int32_t)
{
    auto* self = static_cast<KOVAHostSampleSink*>(module);
    self->ReportInfo(self->Summary());
}

void KOVAHostSampleSink::ResetCount(KOVAModule* module, int32_t)
{
    auto* self = static_cast<KOVAHostSampleSink*>(module);
    self->samples_ = 0;
    self->bytes_ = 0;
    self->gaps_ = 0;
}
