// Host test component "HostPatternSource": writes test pattern IPL images
// (output "Image") and byte streams (output "Bytes") at a fixed period.
#pragma once

#include "KOVA.h"

class KOVAHostPatternSource : public KOVAComponent {
public:
    static KOVAComponent* Instantiate(const char* name, const KOVAComponentDefinition* definition);
    using KOVAComponent::KOVAComponent;

    void Birth() override;
    void Core() override;

    static const KOVAComponentDefinition s_componentDefinition;

private:
    void WriteImage(KOVATimestamp now);
    void WriteBytes(KOVATimestamp now);

    int64_t pattern_ = 0;
    int64_t periodUs_ = 0;
    int64_t count_ = 0;
    int64_t streamBytes_ = 0;
    int64_t sent_ = 0;
};
