// Host test component "HostInt64Source": writes 64-bit integers (a
// constant, a counter or the engine clock) at a fixed period.
#pragma once

#include "KOVA.h"

class KOVAHostInt64Source : public KOVAComponent {
public:
    static KOVAComponent* Instantiate(const char* name, const KOVAComponentDefinition* definition);
    using KOVAComponent::KOVAComponent;

    void Birth() override;
    void Core() override;

    static const KOVAComponentDefinition s_componentDefinition;

private:
    int64_t mode_ = 0;
    int64_t value_ = 0;
    int64_t periodUs_ = 0;
    int64_t count_ = 0;
    int64_t sent_ = 0;
};
