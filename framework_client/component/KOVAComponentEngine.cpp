// The engine's side of a component (KOVAComponentPort): lifecycle calls run
// under a guard that turns whatever they raise into a code.
#include "component/KOVAComponent.h"

#include "services/KOVAServices.h"
#include "threads/KOVADeadline.h"

#include <chrono>
#include <unistd.h>

template <typename Fn>
int32_t KOVAComponent::RunGuarded(const char* phase, Fn call) noexcept
{
    const KOVAPrivate::CurrentComponentScope scope(this);
    try {
        try {
            call();
            return KOVA::NoError;
        } catch (int code) {
            if (code == KOVA::TimeOut) {
                Report(KOVA::Error, (name_ + ": " + phase + "() waited too long for an output buffer").c_str());
                MarkFailed();
            } else if (code != KOVA::ModuleDied) {
                MarkFailed();
            }
            return code;
        } catch (const std::exception& e) {
            Report(KOVA::Error,
                   (name_ + ": unhandled std::exception thrown from " + phase + "() (" + e.what() + ")").c_str());
            MarkFailed();
            return KOVA::ErrorException;
        } catch (...) {
            Report(KOVA::Error, (name_ + ": unhandled exception thrown from " + phase + "()").c_str());
            MarkFailed();
            return KOVA::ErrorException;
        }
    } catch (...) {
        // Reporting itself failed (out of memory).
        MarkFailed();
        return KOVA::ErrorException;
    }
}

KOVAInputPort* KOVAComponent::EngineInput(int32_t index) noexcept
{
    return index >= 0 && index < NumberOfInputs() ? inputs_[static_cast<size_t>(index)].get() : nullptr;
}

KOVAOutputPort* KOVAComponent::EngineOutput(int32_t index) noexcept
{
    return index >= 0 && index < NumberOfOutputs() ? outputs_[static_cast<size_t>(index)].get() : nullptr;
}

KOVAPropertyPort* KOVAComponent::EngineProperty(int32_t index) noexcept
{
    return index >= 0 && index < EnginePropertyCount() ? properties_[static_cast<size_t>(index)].get() : nullptr;
}

const KOVAActionDefinition* KOVAComponent::EngineAction(int32_t index) const noexcept
{
    return index >= 0 && index < EngineActionCount() ? actions_[static_cast<size_t>(index)] : nullptr;
}

int32_t KOVAComponent::EngineTriggerAction(int32_t index, const char* argument, KOVATextReceiver& why) noexcept
{
    try {
        const KOVAActionDefinition* action = EngineAction(index);
        if (!action || !action->action || (!action->action->function && !action->action->functionWithArgument)) {
            KOVA::Give(why, "Trying to access unknown action #" + std::to_string(index));
            return KOVA::Refused;
        }
        const uint32_t state = EngineState();
        const bool running = (state & KOVA::LivingState) && !(state & KOVA::DeadState);
        if (!running && !action->allowedWhenComponentDead) {
            KOVA::Give(why,
                       std::string("action ") + action->name + " of " + name_ +
                           " is refused: the component is not running");
            return KOVA::Refused;
        }
        return RunGuarded("an action", [&] {
            KOVAModule* module = this;
            if (action->action->functionWithArgument)
                action->action->functionWithArgument(module, index, argument ? argument : "");
            else
                action->action->function(module, index);
        });
    } catch (...) {
        return KOVA::ErrorException;
    }
}

int32_t KOVAComponent::EngineDynamic() noexcept
{
    return RunGuarded("Dynamic", [this] { Dynamic(); });
}

int32_t KOVAComponent::EnginePrepareStart() noexcept
{
    try {
        stop_.Reset();
        finished_.store(false, std::memory_order_release);
        state_.store(KOVA::DeadState, std::memory_order_release);
        for (auto& output : outputs_) {
            std::string why;
            if (!output->AllocateDefinedBuffers(why)) {
                Report(KOVA::Error, why.c_str());
                MarkFailed();
                return KOVA::ErrorException;
            }
        }
        state_.store(KOVA::LivingState, std::memory_order_release);
        return KOVA::NoError;
    } catch (...) {
        MarkFailed();
        return KOVA::ErrorException;
    }
}

int32_t KOVAComponent::EngineBirth() noexcept
{
    return RunGuarded("Birth", [this] {
        std::string why;
        FindProperty("primaryThreadID")->WriteInteger(static_cast<int64_t>(::gettid()), why);
        Birth();
    });
}

int32_t KOVAComponent::EngineCore() noexcept
{
    return RunGuarded("Core", [this] { Core(); });
}

int32_t KOVAComponent::EngineDeath() noexcept
{
    const int32_t code = RunGuarded("Death", [this] { Death(); });
    // Elements still held by the inputs go back to their writers.
    for (auto& input : inputs_)
        input->StopReadingNoThrow();
    const uint32_t kept = state_.load(std::memory_order_acquire) & (KOVA::ErrorState | KOVA::FinishedState);
    state_.store(KOVA::DeadState | kept, std::memory_order_release);
    return code;
}

void KOVAComponent::EngineRequestStop() noexcept
{
    state_.fetch_or(KOVA::DyingState, std::memory_order_release);
    stop_.Request();
    for (auto& input : inputs_)
        input->WakeReader();
    for (auto& output : outputs_)
        output->WakeWriters();
}

bool KOVAComponent::EngineJoinThreads(int64_t timeoutUs) noexcept
{
    std::vector<std::thread> finished;
    {
        std::unique_lock lock(threadsMutex_);
        auto none = [this] { return runningThreads_ == 0; };
        if (!KOVADeadline::AfterUs(timeoutUs).WaitUntil(threadsCondition_, lock, none))
            return false;
        finished.swap(threads_);
    }
    for (auto& thread : finished)
        thread.join();
    return true;
}

void KOVAComponent::EngineFreeBuffers() noexcept
{
    RunGuarded("FreeBuffers", [this] { FreeBuffers(); });
}

void KOVAComponent::EngineDestroy() noexcept
{
    delete this;
}
