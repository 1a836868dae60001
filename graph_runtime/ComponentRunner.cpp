#include "ComponentRunner.h"

namespace host {

ComponentRunner::ComponentRunner(HostComponent& component) : component_(component), state_(std::make_shared<State>())
{ }

ComponentRunner::~ComponentRunner()
{
    if (!thread_.joinable())
        return;
    bool abandoned = false;
    {
        const std::lock_guard lock(state_->mutex);
        abandoned = state_->abandoned;
    }
    // An abandoned thread keeps its own reference to the shared state.
    if (abandoned)
        thread_.detach();
    else
        thread_.join();
}

bool ComponentRunner::Start()
{
    if (component_.Port().EnginePrepareStart() != KOVA::NoError)
        return false;
    {
        const std::lock_guard lock(state_->mutex);
        state_->started = true;
    }
    thread_ = std::thread([state = state_, port = &component_.Port()] { Main(state, *port); });
    return true;
}

bool ComponentRunner::InputsHaveData(KOVAComponentPort& port)
{
    for (int32_t i = 0; i < port.EngineInputCount(); ++i) {
        if (port.EngineInput(i)->DataAvailable())
            return true;
    }
    return false;
}

void ComponentRunner::Main(const std::shared_ptr<State>& state, KOVAComponentPort& port)
{
    State& s = *state;
    const int32_t birth = port.EngineBirth();
    bool run = false;
    {
        std::unique_lock lock(s.mutex);
        s.born = true;
        s.birthCode = birth;
        s.condition.notify_all();
        if (birth == KOVA::NoError) {
            s.condition.wait(lock, [&s] { return s.go || s.stopRequested; });
            run = !s.stopRequested;
        }
    }
    bool byItself = birth != KOVA::NoError;
    const bool threaded = port.EngineDefinition().threaded;
    while (run) {
        {
            const std::lock_guard lock(s.mutex);
            if (s.stopRequested)
                break;
        }
        if (port.EngineState() & (KOVA::ErrorState | KOVA::FinishedState | KOVA::DyingState))
            break;
        if (!threaded && !InputsHaveData(port)) {
            // A sequential component runs when a sample is there; look again
            // shortly (or as soon as it is stopped).
            std::unique_lock lock(s.mutex);
            s.condition.wait_for(lock, std::chrono::milliseconds(1), [&s] { return s.stopRequested; });
            continue;
        }
        if (port.EngineCore() != KOVA::NoError) {
            const std::lock_guard lock(s.mutex);
            byItself = !s.stopRequested;
            break;
        }
    }
    {
        const std::lock_guard lock(s.mutex);
        if (byItself && !s.stopRequested) {
            s.endedByItself = true;
            s.stopTime = Clock::now();
        }
    }
    // Wakes the component's own threads before Death (idempotent).
    port.EngineRequestStop();
    port.EngineDeath();
    port.EngineJoinThreads(-1);
    const std::lock_guard lock(s.mutex);
    s.dead = true;
    s.condition.notify_all();
}

bool ComponentRunner::WaitBorn(Clock::time_point deadline)
{
    std::unique_lock lock(state_->mutex);
    return state_->condition.wait_until(lock, deadline, [this] { return state_->born || !state_->started; });
}

int32_t ComponentRunner::BirthCode() const
{
    const std::lock_guard lock(state_->mutex);
    return state_->birthCode;
}

bool ComponentRunner::BirthFailed() const
{
    const std::lock_guard lock(state_->mutex);
    return state_->started && state_->born && state_->birthCode != KOVA::NoError;
}

void ComponentRunner::Go()
{
    const std::lock_guard lock(state_->mutex);
    state_->go = true;
    state_->condition.notify_all();
}

void ComponentRunner::RequestStop()
{
    {
        const std::lock_guard lock(state_->mutex);
        if (state_->stopRequested)
            return;
        state_->stopRequested = true;
        if (!state_->endedByItself)
            state_->stopTime = Clock::now();
        state_->condition.notify_all();
    }
    component_.Port().EngineRequestStop();
}

bool ComponentRunner::StopRequested() const
{
    const std::lock_guard lock(state_->mutex);
    return state_->stopRequested;
}

ComponentRunner::Clock::time_point ComponentRunner::StopTime() const
{
    const std::lock_guard lock(state_->mutex);
    return state_->stopTime;
}

bool ComponentRunner::IsDead() const
{
    const std::lock_guard lock(state_->mutex);
    return state_->dead || !state_->started;
}

bool ComponentRunner::WaitDead(Clock::time_point deadline)
{
    std::unique_lock lock(state_->mutex);
    return state_->condition.wait_until(lock, deadline, [this] { return state_->dead || !state_->started; });
}

bool ComponentRunner::EndedByItself() const
{
    const std::lock_guard lock(state_->mutex);
    return state_->endedByItself;
}

void ComponentRunner::Abandon()
{
    const std::lock_guard lock(state_->mutex);
    state_->abandoned = true;
    component_.Abandon();
}

} // namespace host
