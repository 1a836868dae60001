// Test components for the unit client's tests: a source that writes the
// samples a test scripted (any of the four sample kinds, with replay times
// before each), and a sink that records the unit client's status outputs.
#pragma once

#include "KOVA.h"
#include "VXQIRApi.h"

#include <cstdint>
#include <mutex>
#include <vector>

namespace unit_client_test {

enum class SampleKind { Ipl, Coded, Stream, Csi2Frame, OtherStruct };

/// One sample with the times written before it (-1: that time output is
/// left alone).
struct ScriptedSample {
    std::vector<uint8_t> bytes; ///< IPL pixels (height x widthStep), coded bytes, stream or chunk container
    int64_t timestampUs = 1'000'000;
    int64_t offsetUs = 1000;
    int64_t startUs = -1;
    int64_t stopUs = -1;
    int32_t codedHeight = 1;     ///< framework image height
    int64_t codedImageSize = -1; ///< framework image imageSize; -1: bytes.size()
};

/// IPL geometry of the source's "Ipl" output.
struct IplGeometry {
    int32_t width = 4;
    int32_t height = 2;
    int32_t depth = 8;
    const char* channels = "BGR";
    int32_t align = 4;
};

/// What the source writes in its next run. Set it before the run; the
/// source reads it on its own thread while the run lasts.
struct Script {
    SampleKind kind = SampleKind::Ipl;
    IplGeometry ipl;
    int32_t codedBufferBytes = 65536;
    std::vector<ScriptedSample> samples;
    int64_t periodUs = 0;
    int64_t firstDelayUs = 0; ///< rest before the first sample
};

Script& TheScript();

/// The model of an IPL sample of the script's geometry.
IplImage IplModelOf(const IplGeometry& geometry);

/// What the recording sink saw.
struct StatusRecord {
    std::vector<VXTQirStatusT> states;
    std::vector<int64_t> unitTimesUs;
};
StatusRecord RecordedStatus();
void ClearRecordedStatus();

class ScriptedSource : public KOVAComponent {
public:
    static KOVAComponent* Instantiate(const char* name, const KOVAComponentDefinition* definition);
    using KOVAComponent::KOVAComponent;
    void Birth() override;
    void Core() override;
    static const KOVAComponentDefinition s_componentDefinition;

private:
    void WriteTime(const char* output, int64_t value);
    void WriteSample(const ScriptedSample& sample);
    size_t next_ = 0;
};

class StatusRecorder : public KOVAComponent {
public:
    static KOVAComponent* Instantiate(const char* name, const KOVAComponentDefinition* definition);
    using KOVAComponent::KOVAComponent;
    void Core() override;
    static const KOVAComponentDefinition s_componentDefinition;
};

} // namespace unit_client_test
