// Base class of every component: its standard and table-driven properties,
// inputs, outputs and actions, its lifecycle operations and the services a
// component uses (reading, writing, reporting, rests, threads).
#pragma once

#include "abi/KOVAComponentPort.h"
#include "component/KOVAModule.h"
#include "component/KOVAStopSignal.h"
#include "component/KOVAUnwind.h"
#include "io/KOVAInput.h"
#include "io/KOVAOutput.h"
#include "properties/KOVAEnumStruct.h"
#include "properties/KOVAProperty.h"
#include "text/KOVAStackedString.h"

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class KOVAEvent;

/// A component class derives from KOVAComponent, overrides Core (and
/// usually Birth, Death, Dynamic) and supplies a static
/// Instantiate(instance name, definition).
///
/// Errors are raised, not returned: Error and the accessor checks end the
/// current Birth, Core or Death by raising KOVA::ErrorException; a blocking
/// call raises KOVA::ModuleDied when the engine stops the component. The
/// framework catches both where it runs the lifecycle call.
///
/// Thread context: Birth, Core and Death run on the component's primary
/// thread; Dynamic and actions on engine threads; threads made with
/// CreateThread alongside. The services below say which they allow.
class KOVAComponent : public KOVAModule, public KOVAComponentPort {
public:
    /// Creates the standard properties ("threaded", "priority",
    /// "autoStart", "componentModelVersion", "primaryThreadID"), then the
    /// first nbProperties properties, nbInputs inputs, nbOutputs outputs and
    /// nbActions actions of `definition` (never past a table's terminating
    /// entry). A bad name or table is reported, the element skipped and the
    /// component marked failed (ErrorState), which the engine checks.
    KOVAComponent(const char* name, const KOVAComponentDefinition* definition);
    ~KOVAComponent() override;
    KOVAComponent(const KOVAComponent&) = delete;
    KOVAComponent& operator=(const KOVAComponent&) = delete;

    // --- virtual operations, in slot order ------------------------------
    virtual void Rename(const char* newName);
    virtual int32_t Kind() const;
    /// The sequential model's entry: calls Core.
    virtual void SequentialCore();
    /// Reports `text` at error level, marks the component failed and raises
    /// KOVA::ErrorException. Thread-safe.
    [[noreturn]] virtual void Error(const char* text);
    /// Sends `text` at `level` to the engine on behalf of this component.
    /// Thread-safe.
    virtual void Report(int32_t level, const char* text);
    virtual void PerformanceMonitoring(bool enable);
    /// Read a property (see KOVAProperty::Read... for the conversions); a
    /// value that cannot be read fails the call (Error). Thread-safe.
    virtual void Get(KOVAProperty* property, bool& value);
    virtual void Get(KOVAProperty* property, int64_t& value);
    virtual void Get(KOVAProperty* property, double& value);
    virtual void Get(KOVAProperty* property, KOVAString& value);
    virtual void Get(KOVAProperty* property, KOVAEnumStruct& value);
    /// Write a property; a value of the wrong kind fails the call (Error).
    /// Thread-safe.
    virtual void Set(KOVAProperty* property, bool value);
    virtual void Set(KOVAProperty* property, int64_t value);
    virtual void Set(KOVAProperty* property, double value);
    virtual void Set(KOVAProperty* property, const KOVAString& value);
    virtual void Set(KOVAProperty* property, const KOVAEnumStruct& value);
    /// Called by the engine after property changes; may add inputs.
    virtual void Dynamic();
    virtual void Core() = 0;
    virtual void Birth();
    virtual void Banzai();
    virtual void Death();
    /// Drops every output's buffers (the engine calls it between runs).
    virtual void FreeBuffers();
    virtual void GetLocation(int32_t& x, int32_t& y) const;
    virtual void SetLocation(int32_t x, int32_t y);

    // --- services ---------------------------------------------------------
    // Reports: thread-safe.
    void ReportInfo(const char* text) { Report(KOVA::Info, text); }
    void ReportWarning(const char* text) { Report(KOVA::Warning, text); }
    void ReportError(const char* text) { Report(KOVA::Error, text); }

    /// Element lookups; an unknown name or index fails the call (Error:
    /// "Trying to access unknown input ...", "... input #n", likewise for
    /// output, property and action). Thread-safe while Dynamic does not run
    /// (only Dynamic changes the element lists).
    KOVAInput* Input(const char* name);
    KOVAInput* Input(int32_t index);
    KOVAOutput* Output(const char* name);
    KOVAOutput* Output(int32_t index);
    KOVAProperty* Property(const char* name);
    int32_t Action(const char* name);
    int32_t NumberOfInputs() const { return static_cast<int32_t>(inputs_.size()); }
    int32_t NumberOfOutputs() const { return static_cast<int32_t>(outputs_.size()); }
    /// Null instead of failing for an unknown name.
    KOVAInput* FindInput(std::string_view name) const;
    KOVAOutput* FindOutput(std::string_view name) const;
    KOVAProperty* FindProperty(std::string_view name) const;

    /// Typed reads by property name (fail like Property and Get).
    bool GetBool(const char* name);
    int64_t GetInteger(const char* name);
    double GetFloat(const char* name);
    KOVAString GetString(const char* name);
    KOVAEnumStruct GetEnum(const char* name);

    /// See KOVAInput::StartReading. Thread-bound: one component thread per
    /// input at a time.
    KOVAIOElt* StartReading(KOVAInput* input);
    void StopReading(KOVAInput* input);
    int32_t DataAvailableInFIFO(KOVAInput* input);
    /// See KOVAOutput::StartWriting. Thread-safe among this component's
    /// threads; each element is then thread-bound to its writer.
    KOVAIOElt* StartWriting(KOVAOutput* output);
    /// Publishes (or with `discard` withholds) an element of one of this
    /// component's outputs; fails (Error) for any other element.
    void StopWriting(KOVAIOElt* element, bool discard = false);

    /// Thread-bound to the engine thread running Dynamic: creates an input from the input table entry named
    /// `modelName`, named `newName` (null: the table name). An input of that
    /// name that exists already is returned as it is. An absent model fails
    /// the call ("The given model (...) does not exist.").
    KOVAInput* NewInput(const char* modelName, const char* newName = nullptr);

    /// Waits `us` microseconds (KOVA::Infinite: until stopped). Raises
    /// KOVA::ModuleDied as soon as the component is stopped. Thread-safe
    /// (any thread of this component).
    void Rest(KOVATimestamp us);
    /// Waits `us` microseconds (KOVA::Infinite: without limit) or until
    /// `event` is set, whichever comes first; returns true when the event
    /// is set, false when the time passed. Raises KOVA::ModuleDied as soon
    /// as the component is stopped, also when the event is set at the same
    /// moment. An auto-reset event is consumed. Thread-safe (any thread of
    /// this component).
    bool Rest(KOVATimestamp us, KOVAEvent& event);
    /// True once the engine has begun to stop the component. Thread-safe.
    bool IsDying() const;
    /// Thread-bound to the primary thread (in Core). Ends this run on the
    /// component's own initiative (a source that has
    /// nothing more to produce): marks the component finished and raises
    /// KOVA::ModuleDied; the engine then runs Death as at a normal stop.
    [[noreturn]] void Finish();
    /// True after Finish.
    bool IsFinished() const;

    /// Thread-safe. Starts a component thread that runs `member` and returns
    /// once it runs; fails the call (Error: "Failed to create a component thread
    /// that runs a member function") when no thread can be made. The thread
    /// ends quietly when a framework call in it raises; the engine joins it
    /// when the component stops.
    template <class T>
    void CreateThread(void (T::*member)())
    {
        T* self = static_cast<T*>(this);
        StartComponentThread([self, member] { (self->*member)(); });
    }
    void StartComponentThread(std::function<void()> body);

    const char* InstanceName() const { return name_.c_str(); }
    const KOVAComponentDefinition* Definition() const { return &definition_; }
    KOVAStopSignal& StopSignal() { return stop_; }

    // --- KOVAComponentPort ------------------------------------------------
    const char* EngineInstanceName() const noexcept final { return name_.c_str(); }
    const KOVAComponentDefinition& EngineDefinition() const noexcept final { return definition_; }
    uint32_t EngineState() const noexcept final { return state_.load(std::memory_order_acquire); }
    int32_t EngineInputCount() const noexcept final { return NumberOfInputs(); }
    KOVAInputPort* EngineInput(int32_t index) noexcept final;
    int32_t EngineOutputCount() const noexcept final { return NumberOfOutputs(); }
    KOVAOutputPort* EngineOutput(int32_t index) noexcept final;
    int32_t EnginePropertyCount() const noexcept final { return static_cast<int32_t>(properties_.size()); }
    KOVAPropertyPort* EngineProperty(int32_t index) noexcept final;
    int32_t EngineActionCount() const noexcept final { return static_cast<int32_t>(actions_.size()); }
    const KOVAActionDefinition* EngineAction(int32_t index) const noexcept final;
    int32_t EngineTriggerAction(int32_t index, const char* argument, KOVATextReceiver& why) noexcept final;
    int32_t EngineDynamic() noexcept final;
    int32_t EnginePrepareStart() noexcept final;
    int32_t EngineBirth() noexcept final;
    int32_t EngineCore() noexcept final;
    int32_t EngineDeath() noexcept final;
    void EngineRequestStop() noexcept final;
    bool EngineJoinThreads(int64_t timeoutUs) noexcept final;
    void EngineFreeBuffers() noexcept final;
    void EngineDestroy() noexcept final;

private:
    template <typename Fn>
    int32_t RunGuarded(const char* phase, Fn call) noexcept;
    void MarkFailed();
    void ConstructionError(const std::string& text);
    KOVAProperty* AddProperty(std::unique_ptr<KOVAProperty> property);
    KOVAProperty* AddStandardProperty(const char* name, const KOVAPropertyDefault& value, uint32_t flags);
    KOVAInput* CreateInput(const KOVAInputDefinition& definition, const char* name);
    KOVAOutput* CreateOutput(const KOVAOutputDefinition& definition);
    void CreateAction(const KOVAActionDefinition& definition);
    void ThreadBody(const std::function<void()>& body);

    std::string name_;
    const KOVAComponentDefinition definition_;
    std::atomic<uint32_t> state_{ KOVA::DeadState };
    std::atomic<bool> finished_{ false };
    KOVAStopSignal stop_;

    // The element lists change only in the constructor and in Dynamic
    // (engine thread, component not running); readers take no lock.
    std::vector<std::unique_ptr<KOVAProperty>> properties_;
    std::vector<std::unique_ptr<KOVAInput>> inputs_;
    std::vector<std::unique_ptr<KOVAOutput>> outputs_;
    std::vector<const KOVAActionDefinition*> actions_;

    std::mutex threadsMutex_; ///< guards threads_ and runningThreads_
    std::condition_variable threadsCondition_;
    std::vector<std::thread> threads_;
    int32_t runningThreads_ = 0;

    int32_t locationX_ = 0;
    int32_t locationY_ = 0;
};
