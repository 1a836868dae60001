// Host test component "HostSampleSink": reads every sample of its input
// "In", counts samples and bytes, and prints them when asked.
#pragma once

#include "KOVA.h"

#include <atomic>

class KOVAHostSampleSink : public KOVAComponent {
public:
    static KOVAComponent* Instantiate(const char* name, const KOVAComponentDefinition* definition);
    using KOVAComponent::KOVAComponent;

    void Birth() override;
    void Core() override;
    void Death() override;

    static void PrintSummary(KOVAModule* module, int32_t index);
    static void ResetCount(KOVAModule* module, int32_t index);

    static const KOVAComponentDefinition s_componentDefinition;

private:
    KOVAStreamedString Describe(KOVAIOElt& element);
    KOVAStreamedString Summary() const;

    bool print_ = false;
    bool expectSequence_ = false;
    int64_t lastValue_ = 0;
    bool haveValue_ = false;
    // Read by actions on engine threads while Core counts.
    std::atomic<uint64_t> samples_{ 0 };
    std::atomic<uint64_t> bytes_{ 0 };
    std::atomic<uint64_t> gaps_{ 0 };
};
