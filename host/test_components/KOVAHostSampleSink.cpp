#include "KOVAHostSampleSink.h"

#include "types/KOVATypeNames.h"

namespace {

constexpr KOVAPropertyDefault kPrint = KOVAPropertyDefault::Bool(false);
constexpr KOVAPropertyDefault kExpectSequence = KOVAPropertyDefault::Bool(false);

const KOVAPropertyDefinition kProperties[] = {
    { "Print", &kPrint, nullptr, false, true, false, true, 0 },
    { "ExpectSequence", &kExpectSequence, nullptr, false, false, false, true, 0 },
    { nullptr, nullptr, nullptr, false, false, false, false, 0 },
};

const KOVAInputDefinition kInputs[] = {
    { "In", 0, &KOVA::FilterAny, KOVA::NeverSkippingReader, 1 },
    { nullptr, 0, nullptr, 0, 0 },
};

const KOVAOutputDefinition kOutputs[] = { { nullptr, 0, { 0, nullptr, nullptr }, 0, 0, 0, 0 } };

const KOVAActionFunction kPrintSummary = { &KOVAHostSampleSink::PrintSummary, nullptr };
const KOVAActionFunction kResetCount = { &KOVAHostSampleSink::ResetCount, nullptr };

const KOVAActionDefinition kActions[] = {
    { "PrintSummary", &kPrintSummary, true, { 0, 0, 0 } },
    { "ResetCount", &kResetCount, false, { 0, 0, 0 } },
    { nullptr, nullptr, false, { 0, 0, 0 } },
};

} // namespace

const KOVAComponentDefinition KOVAHostSampleSink::s_componentDefinition = {
    "HostSampleSink",
    "1.0.0",
    &KOVAHostSampleSink::Instantiate,
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
