// "TestLifecycle": a component whose lifecycle misbehaves as its properties
// say, for the engine stand-in's lifecycle tests.
#pragma once

#include "KOVA.h"

class KOVATestLifecycle : public KOVAComponent {
public:
    using KOVAComponent::KOVAComponent;
    static KOVAComponent* Instantiate(const char* name, const KOVAComponentDefinition* definition)
    {
        return new KOVATestLifecycle(name, definition);
    }
    static const KOVAComponentDefinition s_componentDefinition;

    /// With "FailInBirth": Error. Else rests "BirthUs" microseconds (woken
    /// at stop).
    void Birth() override;
    /// With "FailInCore": Error. With "In" connected: reads it (blocking)
    /// and, with "HoldUs", rests that long holding the sample, then reports
    /// "[Core] handled sample N" and lets it go. Otherwise rests until
    /// stopped.
    void Core() override;
    /// Sleeps "DeathMs" milliseconds without looking at the stop, then
    /// reports "[Death] ran".
    void Death() override;

private:
    int64_t handled_ = 0; ///< samples held and let go (primary thread)
};
