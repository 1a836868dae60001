// Runs one component's lifecycle on its own primary thread: Birth, then
// (once the engine says go) Core again and again, then Death.
#pragma once

#include "HostComponent.h"

#include <chrono>
#include <condition_variable>
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
    void Main();
    bool InputsHaveData();

    HostComponent& component_;
    mutable std::mutex mutex_; ///< guards the fields below
    std::condition_variable condition_;
    bool started_ = false;
    bool born_ = false;
    bool go_ = false;
    bool dead_ = false;
    bool stopRequested_ = false;
    bool endedByItself_ = false;
    bool abandoned_ = false;
    int32_t birthCode_ = KOVA::NoError;
    Clock::time_point stopTime_{};
    std::thread thread_;
};

} // namespace host
