// Services a component uses while it runs: properties, reading and writing,
// rests, finishing and component threads.
#include "component/KOVAComponent.h"

#include "services/KOVAServices.h"
#include "threads/KOVAEvent.h"

#include <latch>
#include <system_error>

namespace {

std::string unreadable(const KOVAProperty& property, const char* kind)
{
    return "Property " + property.GetName() + " cannot be read as " + kind;
}

} // namespace

// --- properties ----------------------------------------------------------------

void KOVAComponent::Get(KOVAProperty* property, bool& value)
{
    if (!property)
        Error("Trying to access unknown property");
    if (!property->ReadBool(value))
        Error(unreadable(*property, "a boolean").c_str());
}

void KOVAComponent::Get(KOVAProperty* property, int64_t& value)
{
    if (!property)
        Error("Trying to access unknown property");
    if (!property->ReadInteger(value))
        Error(unreadable(*property, "an integer").c_str());
}

void KOVAComponent::Get(KOVAProperty* property, double& value)
{
    if (!property)
        Error("Trying to access unknown property");
    if (!property->ReadFloat(value))
        Error(unreadable(*property, "a float").c_str());
}

void KOVAComponent::Get(KOVAProperty* property, KOVAString& value)
{
    if (!property)
        Error("Trying to access unknown property");
    std::string text;
    property->ReadText(text);
    value = KOVAString(std::move(text));
}

void KOVAComponent::Get(KOVAProperty* property, KOVAEnumStruct& value)
{
    if (!property)
        Error("Trying to access unknown property");
    if (!property->ReadEnum(value))
        Error(unreadable(*property, "an enumeration").c_str());
}

void KOVAComponent::Set(KOVAProperty* property, bool value)
{
    std::string why;
    if (!property)
        Error("Trying to access unknown property");
    if (!property->WriteBool(value, why))
        Error(why.c_str());
}

void KOVAComponent::Set(KOVAProperty* property, int64_t value)
{
    std::string why;
    if (!property)
        Error("Trying to access unknown property");
    if (!property->WriteInteger(value, why))
        Error(why.c_str());
}

void KOVAComponent::Set(KOVAProperty* property, double value)
{
    std::string why;
    if (!property)
        Error("Trying to access unknown property");
    if (!property->WriteFloat(value, why))
        Error(why.c_str());
}

void KOVAComponent::Set(KOVAProperty* property, const KOVAString& value)
{
    std::string why;
    if (!property)
        Error("Trying to access unknown property");
    if (!property->WriteText(value.Std(), why))
        Error(why.c_str());
}

void KOVAComponent::Set(KOVAProperty* property, const KOVAEnumStruct& value)
{
    std::string why;
    if (!property)
        Error("Trying to access unknown property");
    if (!property->WriteEnum(value, why))
        Error(why.c_str());
}

bool KOVAComponent::GetBool(const char* name)
{
    bool value = false;
    Get(Property(name), value);
    return value;
}

int64_t KOVAComponent::GetInteger(const char* name)
{
    int64_t value = 0;
    Get(Property(name), value);
    return value;
}

double KOVAComponent::GetFloat(const char* name)
{
    double value = 0.0;
    Get(Property(name), value);
    return value;
}

KOVAString KOVAComponent::GetString(const char* name)
{
    KOVAString value;
    Get(Property(name), value);
    return value;
}

KOVAEnumStruct KOVAComponent::GetEnum(const char* name)
{
    KOVAEnumStruct value;
    Get(Property(name), value);
    return value;
}

// --- reading and writing ---------------------------------------------------------

KOVAIOElt* KOVAComponent::StartReading(KOVAInput* input)
{
    if (!input)
        Error("Trying to access unknown input");
    return input->StartReading();
}

void KOVAComponent::StopReading(KOVAInput* input)
{
    if (!input)
        Error("Trying to access unknown input");
    input->StopReading();
}

int32_t KOVAComponent::DataAvailableInFIFO(KOVAInput* input)
{
    return input ? input->DataAvailableInFIFO() : 0;
}

KOVAIOElt* KOVAComponent::StartWriting(KOVAOutput* output)
{
    if (!output)
        Error("Trying to access unknown output");
    return output->StartWriting();
}

void KOVAComponent::StopWriting(KOVAIOElt* element, bool discard)
{
    for (auto& output : outputs_) {
        if (output->Owns(element)) {
            output->StopWriting(element, discard);
            return;
        }
    }
    Error("StopWriting: the element does not belong to an output of this component");
}

// --- time, state and threads -------------------------------------------------------

void KOVAComponent::Rest(KOVATimestamp us)
{
    if (stop_.WaitFor(us))
        KOVA::Raise(KOVA::ModuleDied);
}

bool KOVAComponent::Rest(KOVATimestamp us, KOVAEvent& event)
{
    // The event's wait follows the stop signal of the component current on
    // this thread; make that this component, whichever thread calls.
    const KOVAPrivate::CurrentComponentScope scope(this);
    if (stop_.StopRequested())
        KOVA::Raise(KOVA::ModuleDied);
    const bool set = event.Wait(us);
    if (stop_.StopRequested())
        KOVA::Raise(KOVA::ModuleDied);
    return set;
}

bool KOVAComponent::IsDying() const
{
    return (state_.load(std::memory_order_acquire) & KOVA::DyingState) != 0;
}

void KOVAComponent::Finish()
{
    finished_.store(true, std::memory_order_release);
    state_.fetch_or(KOVA::FinishedState, std::memory_order_release);
    KOVA::Raise(KOVA::ModuleDied);
}

bool KOVAComponent::IsFinished() const
{
    return finished_.load(std::memory_order_acquire);
}

void KOVAComponent::StartComponentThread(std::function<void()> body)
{
    std::latch started(1);
    bool created = false;
    {
        const std::lock_guard lock(threadsMutex_);
        ++runningThreads_;
        try {
            threads_.emplace_back([this, &started, work = std::move(body)] {
                started.count_down();
                ThreadBody(work);
            });
            created = true;
        } catch (const std::system_error&) {
            --runningThreads_;
        }
    }
    if (!created)
        Error("Failed to create a component thread that runs a member function");
    started.wait();
}

void KOVAComponent::ThreadBody(const std::function<void()>& body)
{
    {
        const KOVAPrivate::CurrentComponentScope scope(this);
        try {
            body();
        } catch (int) {
            // A raised framework code ends the thread quietly; Error has
            // reported already.
        } catch (const std::exception& e) {
            Report(KOVA::Error,
                   (name_ + ": unhandled std::exception thrown from a component thread (" + e.what() + ")").c_str());
            MarkFailed();
        } catch (...) {
            Report(KOVA::Error, (name_ + ": unhandled exception thrown from a component thread").c_str());
            MarkFailed();
        }
    }
    const std::lock_guard lock(threadsMutex_);
    --runningThreads_;
    threadsCondition_.notify_all();
}
