#include "ScriptedComponents.h"

#include "abi/KOVATableEnd.h"
#include "abi/KOVAThreadedComponent.h"
#include "unit_client/csi2/KOVAMipiCsi2Frame.h"

#include <algorithm>
#include <cstring>

namespace unit_client_test {

namespace {

std::mutex gStatusMutex; // guards gStatus
StatusRecord gStatus;

const KOVAOutputDefinition kSourceOutputs[] = {
    { .name = "Ipl",
      .reserved = 0,
      .type = { .code = KOVA::IplImage, .name = "", .unit = "" },
      .size = 0,
      .fifoSize = 4,
      .subsampling = 1,
      .shareable = 1 },
    { .name = "Coded",
      .reserved = 0,
      .type = { .code = KOVA::KOVAImage, .name = "", .unit = "" },
      .size = 0,
      .fifoSize = 4,
      .subsampling = 1,
      .shareable = 1 },
    { .name = "Stream",
      .reserved = 0,
      .type = { .code = KOVA::Stream8, .name = "", .unit = "" },
      .size = 0,
      .fifoSize = 4,
      .subsampling = 1,
      .shareable = 1 },
    { .name = "Csi2Frame",
      .reserved = 0,
      .type = { .code = KOVA::DynamicStructure, .name = "KOVAMipiCsi2Frame", .unit = "" },
      .size = 0,
      .fifoSize = 4,
      .subsampling = 1,
      .shareable = 1 },
    { .name = "OtherStruct",
      .reserved = 0,
      .type = { .code = KOVA::DynamicStructure, .name = "SomeOtherRecord", .unit = "" },
      .size = 0,
      .fifoSize = 4,
      .subsampling = 1,
      .shareable = 1 },
    { .name = "Offset",
      .reserved = 0,
      .type = { .code = KOVA::Integer64, .name = "", .unit = "" },
      .size = 1,
      .fifoSize = 4,
      .subsampling = 1,
      .shareable = 1 },
    { .name = "Start",
      .reserved = 0,
      .type = { .code = KOVA::Integer64, .name = "", .unit = "" },
      .size = 1,
      .fifoSize = 4,
      .subsampling = 1,
      .shareable = 1 },
    { .name = "Stop",
      .reserved = 0,
      .type = { .code = KOVA::Integer64, .name = "", .unit = "" },
      .size = 1,
      .fifoSize = 4,
      .subsampling = 1,
      .shareable = 1 },
    KOVA::EndOfOutputs,
};
const KOVAInputDefinition kNoInputs[] = { KOVA::EndOfInputs };
const KOVAPropertyDefinition kNoProperties[] = { KOVA::EndOfProperties };
const KOVAActionDefinition kNoActions[] = { KOVA::EndOfActions };

const KOVATypeFilterBase kStatusFilter(0, 0, KOVA::Structure, "VXTQirStatusT", nullptr);
const KOVAInputDefinition kRecorderInputs[] = {
    { .name = "State",
      .reserved = 0,
      .typeFilter = &kStatusFilter,
      .readerType = KOVA::NeverSkippingReader,
      .subsampling = 1 },
    { .name = "UnitTime",
      .reserved = 0,
      .typeFilter = &KOVA::FilterInteger64,
      .readerType = KOVA::NeverSkippingReader,
      .subsampling = 1 },
    KOVA::EndOfInputs,
};
const KOVAOutputDefinition kNoOutputs[] = { KOVA::EndOfOutputs };

} // namespace

Script& TheScript()
{
    static Script script;
    return script;
}

IplImage IplModelOf(const IplGeometry& g)
{
    return KOVA::IplImageModel(g.width, g.height, g.channels, KOVA::IplDataOrderPixel, g.depth, g.align);
}

StatusRecord RecordedStatus()
{
    const std::lock_guard lock(gStatusMutex);
    return gStatus;
}

void ClearRecordedStatus()
{
    const std::lock_guard lock(gStatusMutex);
    gStatus = {};
}

const KOVAComponentDefinition ScriptedSource::s_componentDefinition =
    KOVA::ThreadedComponent({ .name = "TestScriptedSource",
                              .version = "1.0.0",
                              .instantiate = &ScriptedSource::Instantiate,
                              .inputs = kNoInputs,
                              .outputs = kSourceOutputs,
                              .properties = kNoProperties,
                              .actions = kNoActions });
KOVA_REGISTER_COMPONENT(ScriptedSource, ScriptedSource::s_componentDefinition);

KOVAComponent* ScriptedSource::Instantiate(const char* name, const KOVAComponentDefinition* definition)
{
    return new ScriptedSource(name, definition);
}

void ScriptedSource::Birth()
{
    const Script& script = TheScript();
    size_t streamBytes = 1;
    for (const auto& sample : script.samples)
        streamBytes = std::max(streamBytes, sample.bytes.size());
    Output("Ipl")->AllocOutputBufferIplImage(IplModelOf(script.ipl), true);
    Output("Coded")->AllocOutputBuffer(script.codedBufferBytes);
    Output("Stream")->AllocOutputBuffer(static_cast<int32_t>(streamBytes));
    Output("Csi2Frame")->AllocOutputBuffer(sizeof(KOVAMipiCsi2Frame));
    Output("OtherStruct")->AllocOutputBuffer(sizeof(KOVAMipiCsi2Frame));
    next_ = 0;
}

void ScriptedSource::WriteTime(const char* output, int64_t value)
{
    if (value == -1)
        return;
    KOVA::OutputGuard<int64_t> time(this, Output(output));
    if (time)
        *time.Get() = value;
}

void ScriptedSource::WriteSample(const ScriptedSample& sample)
{
    const Script& script = TheScript();
    switch (script.kind) {
    case SampleKind::Ipl: {
        KOVA::OutputGuard<IplImage> out(this, Output("Ipl"));
        IplImage* image = out.Get();
        if (!sample.bytes.empty())
            std::memcpy(image->imageData, sample.bytes.data(),
                        std::min<size_t>(sample.bytes.size(), static_cast<size_t>(image->imageSize)));
        out.Element()->Timestamp() = sample.timestampUs;
        break;
    }
    case SampleKind::Coded: {
        KOVA::OutputGuard<KOVAImage> out(this, Output("Coded"));
        KOVAImage* image = out.Get();
        if (!sample.bytes.empty())
            std::memcpy(image->imageData, sample.bytes.data(),
                        std::min<size_t>(sample.bytes.size(), static_cast<size_t>(image->bufferSize)));
        image->height = sample.codedHeight;
        image->width = 1;
        image->imageSize = static_cast<int32_t>(sample.codedImageSize >= 0 ? sample.codedImageSize
                                                                           : static_cast<int64_t>(sample.bytes.size()));
        out.Element()->Timestamp() = sample.timestampUs;
        break;
    }
    case SampleKind::Stream: {
        KOVA::OutputGuard<uint8_t> out(this, Output("Stream"));
        if (!sample.bytes.empty())
            std::memcpy(out.Get(), sample.bytes.data(), sample.bytes.size());
        out.Element()->VectorSize() = static_cast<int32_t>(sample.bytes.size());
        out.Element()->Timestamp() = sample.timestampUs;
        break;
    }
    case SampleKind::Csi2Frame:
    case SampleKind::OtherStruct: {
        KOVA::OutputGuard<KOVAMipiCsi2Frame> out(
            this, Output(script.kind == SampleKind::Csi2Frame ? "Csi2Frame" : "OtherStruct"));
        KOVAMipiCsi2Frame frame{};
        frame.ts = sample.timestampUs;
        frame.dataLength = static_cast<uint32_t>(sample.bytes.size());
        // The script outlives the run, so the container may be borrowed.
        frame.data = const_cast<uint8_t*>(sample.bytes.data());
        std::memcpy(out.Get(), &frame, sizeof frame);
        out.Element()->Timestamp() = sample.timestampUs;
        break;
    }
    }
}

void ScriptedSource::Core()
{
    const Script& script = TheScript();
    if (next_ == 0 && script.firstDelayUs > 0)
        Rest(script.firstDelayUs);
    // The run ends once the unit client has let go of the last sample, so
    // the source may end right after it.
    if (next_ >= script.samples.size())
        Finish();
    const ScriptedSample& sample = script.samples[next_++];
    WriteTime("Offset", sample.offsetUs);
    WriteTime("Start", sample.startUs);
    WriteTime("Stop", sample.stopUs);
    WriteSample(sample);
    if (script.periodUs > 0)
        Rest(script.periodUs);
}

const KOVAComponentDefinition StatusRecorder::s_componentDefinition =
    KOVA::ThreadedComponent({ .name = "TestStatusRecorder",
                              .version = "1.0.0",
                              .instantiate = &StatusRecorder::Instantiate,
                              .inputs = kRecorderInputs,
                              .outputs = kNoOutputs,
                              .properties = kNoProperties,
                              .actions = kNoActions });
KOVA_REGISTER_COMPONENT(StatusRecorder, StatusRecorder::s_componentDefinition);

KOVAComponent* StatusRecorder::Instantiate(const char* name, const KOVAComponentDefinition* definition)
{
    return new StatusRecorder(name, definition);
}

void StatusRecorder::Core()
{
    // Both inputs are read as they come; a rest keeps the loop gentle.
    bool any = false;
    KOVAInput* state = Input("State");
    if (state->IsConnected() && DataAvailableInFIFO(state)) {
        KOVA::InputGuard<VXTQirStatusT> sample(this, state);
        if (sample) {
            const std::lock_guard lock(gStatusMutex);
            gStatus.states.push_back(*sample.Get());
            any = true;
        }
    }
    KOVAInput* time = Input("UnitTime");
    if (time->IsConnected() && DataAvailableInFIFO(time)) {
        KOVA::InputGuard<int64_t> sample(this, time);
        if (sample) {
            const std::lock_guard lock(gStatusMutex);
            gStatus.unitTimesUs.push_back(*sample.Get());
            any = true;
        }
    }
    if (!any)
        Rest(2000);
}

} // namespace unit_client_test
