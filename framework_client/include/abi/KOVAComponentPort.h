// The engine's view of a component instance. A component made by a
// package's instantiation function is driven by the engine only through this
// interface. No function throws: whatever a lifecycle call raises comes back
// as its integer code.
#pragma once

#include "abi/KOVAComponentDefinition.h"
#include "abi/KOVAInputPort.h"
#include "abi/KOVAOutputPort.h"
#include "abi/KOVAPropertyPort.h"

#include <cstdint>

/// Thread context per function below. "Primary thread" is the thread the
/// engine runs the component's lifecycle on; "engine thread" any other engine
/// thread while the primary thread is not inside a lifecycle call of the
/// component or the component is not running.
class KOVAComponentPort {
public:
    /// Thread-safe.
    virtual const char* EngineInstanceName() const noexcept = 0;
    /// Thread-safe. The definition the instance was made from.
    virtual const KOVAComponentDefinition& EngineDefinition() const noexcept = 0;
    /// Thread-safe. KOVA::DeadState, DyingState, LivingState, ErrorState bits.
    virtual uint32_t EngineState() const noexcept = 0;

    /// Engine thread, or the primary thread inside Dynamic. The element lists
    /// change only in Dynamic.
    virtual int32_t EngineInputCount() const noexcept = 0;
    virtual KOVAInputPort* EngineInput(int32_t index) noexcept = 0;
    virtual int32_t EngineOutputCount() const noexcept = 0;
    virtual KOVAOutputPort* EngineOutput(int32_t index) noexcept = 0;
    virtual int32_t EnginePropertyCount() const noexcept = 0;
    virtual KOVAPropertyPort* EngineProperty(int32_t index) noexcept = 0;
    virtual int32_t EngineActionCount() const noexcept = 0;
    virtual const KOVAActionDefinition* EngineAction(int32_t index) const noexcept = 0;

    /// Thread-safe. Runs action `index` on the calling thread. Returns
    /// KOVA::Refused (reason in `why`) when the component is not running and
    /// the action is not allowed then, or when the index is unknown; else the
    /// code the action raised, or KOVA::NoError.
    virtual int32_t EngineTriggerAction(int32_t index, const char* argument, KOVATextReceiver& why) noexcept = 0;

    /// Engine thread, after property changes.
    virtual int32_t EngineDynamic() noexcept = 0;
    /// Engine thread, before the primary thread starts: allocates the output
    /// buffers the framework owns and makes the component living.
    virtual int32_t EnginePrepareStart() noexcept = 0;
    /// Primary thread.
    virtual int32_t EngineBirth() noexcept = 0;
    virtual int32_t EngineCore() noexcept = 0;
    virtual int32_t EngineDeath() noexcept = 0;
    /// Thread-safe. Marks the component dying and wakes each of its blocking
    /// calls (reads, writes, rests, event waits) so that it raises
    /// KOVA::ModuleDied.
    virtual void EngineRequestStop() noexcept = 0;
    /// Thread-safe. Waits at most `timeoutUs` microseconds for the threads the
    /// component made with CreateThread to end and joins them; true when none
    /// is left.
    virtual bool EngineJoinThreads(int64_t timeoutUs) noexcept = 0;
    /// Engine thread, when no reader uses the outputs any more.
    virtual void EngineFreeBuffers() noexcept = 0;
    /// Engine thread, after everything above: deletes the instance.
    virtual void EngineDestroy() noexcept = 0;

protected:
    ~KOVAComponentPort() = default;
};
