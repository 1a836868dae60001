#include "ComponentRunner.h"

namespace host {

ComponentRunner::ComponentRunner(HostComponent& component) : component_(component) {}

ComponentRunner::~ComponentRunner()
{
    if (thread_.joinable()) {
        if (abandoned_)
            thread_.detach();
        else
            thread_.join();
    }
}

bool ComponentRunner::Start()
{
    if (component_.Port().EnginePrepareStart() != KOVA::NoError)
        return false;
    {
        const std::lock_guard lock(mutex_);
        started_ = true;
    }
    thread_ = std::thread([this] { Main(); });
    return true;
}

bool ComponentRunner::InputsHaveData()
{
    KOVAComponentPort& port = component_.Port();
    for (int32_t i = 0; i < port.EngineInputCount(); ++i) {
        if (port.EngineInput(i)->DataAvailable())
            return true;
    }
    return false;
}

void ComponentRunner::Main()
{
    KOVAComponentPort& port = component_.Port();
    const int32_t birth = port.EngineBirth();
    bool run = false;
    {
        std::unique_lock lock(mutex_);
        born_ = true;
        birthCode_ = birth;
        condition_.notify_all();
        if (birth == KOVA::NoError) {
            condition_.wait(lock, [this] { return go_ || stopRequested_; });
            run = !stopRequested_;
        }
    }
    bool byItself = birth != KOVA::NoError;
    const bool threaded = port.EngineDefinition().threaded;
    while (run) {
        {
            const std::lock_guard lock(mutex_);
            if (stopRequested_)
                break;
        }
        if (port.EngineState() & (KOVA::ErrorState | KOVA::FinishedState | KOVA::DyingState))
            break;
        if (!threaded && !InputsHaveData()) {
            // A sequential component runs when a sample is there; look again
            // shortly (or as soon as it is stopped).
            std::unique_lock lock(mutex_);
            condition_.wait_for(lock, std::chrono::milliseconds(1), [this] { return stopRequested_; });
            continue;
        }
        if (port.EngineCore() != KOVA::NoError) {
            const std::lock_guard lock(mutex_);
            byItself = !stopRequested_;
            break;
        }
    }
    {
        const std::lock_guard lock(mutex_);
        if (byItself && !stopRequested_) {
            endedByItself_ = true;
            stopTime_ = Clock::now();
        }
    }
    // Wakes the component's own threads before Death (idempotent).
    port.EngineRequestStop();
    port.EngineDeath();
    port.EngineJoinThreads(-1);
    const std::lock_guard lock(mutex_);
    dead_ = true;
    condition_.notify_all();
}

bool ComponentRunner::WaitBorn(Clock::time_point deadline)
{
    std::unique_lock lock(mutex_);
    return condition_.wait_until(lock, deadline, [this] { return born_ || !started_; });
}

int32_t ComponentRunner::BirthCode() const
{
    const std::lock_guard lock(mutex_);
    return birthCode_;
}

void ComponentRunner::Go()
{
    const std::lock_guard lock(mutex_);
    go_ = true;
    condition_.notify_all();
}

void ComponentRunner::RequestStop()
{
    {
        const std::lock_guard lock(mutex_);
        if (stopRequested_)
            return;
        stopRequested_ = true;
        if (!endedByItself_)
            stopTime_ = Clock::now();
        condition_.notify_all();
    }
    component_.Port().EngineRequestStop();
}

bool ComponentRunner::StopRequested() const
{
    const std::lock_guard lock(mutex_);
    return stopRequested_;
}

ComponentRunner::Clock::time_point ComponentRunner::StopTime() const
{
    const std::lock_guard lock(mutex_);
    return stopTime_;
}

bool ComponentRunner::IsDead() const
{
    const std::lock_guard lock(mutex_);
    return dead_ || !started_;
}

bool ComponentRunner::WaitDead(Clock::time_point deadline)
{
    std::unique_lock lock(mutex_);
    return condition_.wait_until(lock, deadline, [this] { return dead_ || !started_; });
}

bool ComponentRunner::EndedByItself() const
{
    const std::lock_guard lock(mutex_);
    return endedByItself_;
}

void ComponentRunner::Abandon()
{
    const std::lock_guard lock(mutex_);
    abandoned_ = true;
    component_.Abandon();
}

} // namespace host
