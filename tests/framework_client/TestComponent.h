// A component for tests of the framework client whose lifecycle operations
// run hooks the test sets.
#pragma once

#include "KOVA.h"
#include "TestKernel.h"

#include <atomic>
#include <chrono>
#include <functional>

/// How long a test waits for a component call that a stop or an event must
/// wake before it gives up; reached only when the wake is lost.
inline constexpr auto kWakeWatchdog = std::chrono::seconds(30);

class KOVATestComponent : public KOVAComponent {
public:
    using KOVAComponent::KOVAComponent;
    static KOVAComponent* Instantiate(const char* name, const KOVAComponentDefinition* definition)
    {
        return new KOVATestComponent(name, definition);
    }
    /// A new instance of the standard test definition.
    static std::unique_ptr<KOVATestComponent, void (*)(KOVATestComponent*)> Make(const char* name);
    static const KOVAComponentDefinition& StandardDefinition();

    void Dynamic() override { run(onDynamic); }
    void Birth() override { run(onBirth); }
    void Core() override { run(onCore); }
    void Death() override { run(onDeath); }

    /// Runs `hook` as Core and returns what EngineCore gives.
    int32_t RunAsCore(std::function<void(KOVATestComponent&)> hook)
    {
        onCore = std::move(hook);
        return EngineCore();
    }

    std::function<void(KOVATestComponent&)> onDynamic, onBirth, onCore, onDeath;
    KOVAEvent event;
    std::atomic<int> threadRuns{ 0 };
    void ThreadMember()
    {
        ++threadRuns;
        Rest(KOVA::Infinite);
    }

private:
    void run(const std::function<void(KOVATestComponent&)>& hook)
    {
        if (hook)
            hook(*this);
    }
};
