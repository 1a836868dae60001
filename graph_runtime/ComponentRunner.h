// Runs one component's lifecycle on its own primary thread: Birth, then
// (once the engine says go) Core again and again, then Death.
#pragma once

#include "HostComponent.h"

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

namespace host {

/// Thread-safe (the engine's main thread drives it; the primary thread runs
/// the component).
class ComponentRunner {
public:
    using Clock = std::chrono::steady_clock;

    explicit ComponentRunner(HostComponent& component);
    /// Joins the primary thread; it must have ended (or been abandoned).
    ~ComponentRunner();
    ComponentRunner(const ComponentRunner&) = delete;
    ComponentRunner& operator=(const ComponentRunner&) = delete;

    /// Prepares the component (framework-owned buffers) and starts its
    /// primary thread, which runs Birth. Returns false when preparing fails;
    /// no thread runs then.
    bool Start();
    /// Waits until Birth has returned or `deadline`; true when it returned.
    bool WaitBorn(Clock::time_point deadline);
    /// What Birth raised (KOVA::NoError when it succeeded).
    int32_t BirthCode() const;
    /// True once Birth has returned with an error.
    bool BirthFailed() const;
    /// Lets the primary thread go on to Core after a successful Birth.
    void Go();
    /// Stops the component: marks it dying and wakes its blocking calls.
    /// Idempotent. Returns when the request is made, not when it died.
    void RequestStop();
    bool StopRequested() const;
    /// Steady time of the first RequestStop, or of the end of the run when
    /// the component stopped by itself.
    Clock::time_point StopTime() const;
    /// True once Death has returned and the component's threads are joined.
    bool IsDead() const;
    bool WaitDead(Clock::time_point deadline);
    /// True when the run ended by itself (Birth or Core failed, or the
    /// component finished) rather than at a stop request.
    bool EndedByItself() const;
    /// Leaves the primary thread running for the rest of the process.
    void Abandon();

    HostComponent& Component() { return component_; }

private:
    /// What the primary thread and the engine share. The primary thread
    /// holds it too, so that a thread that was abandoned (and outlives this
    /// runner) still finds its mutex when it ends at last.
    struct State {
        mutable std::mutex mutex; ///< guards the fields below
        std::condition_variable condition;
        bool started = false;
        bool born = false;
        bool go = false;
        bool dead = false;
        bool stopRequested = false;
        bool endedByItself = false;
        bool abandoned = false;
        int32_t birthCode = KOVA::NoError;
        Clock::time_point stopTime{};
    };

    /// The primary thread: uses only `state` and the instance behind `port`,
    /// both of which outlive an abandoned runner.
    static void Main(const std::shared_ptr<State>& state, KOVAComponentPort& port);
    static bool InputsHaveData(KOVAComponentPort& port);

    HostComponent& component_;
    std::shared_ptr<State> state_;
    std::thread thread_;
};

} // namespace host
