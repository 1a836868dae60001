#include "threads/KOVAEvent.h"

#include "component/KOVAComponent.h"
#include "component/KOVAUnwind.h"
#include "threads/KOVADeadline.h"

#include <chrono>

void KOVAEvent::Set()
{
    const std::lock_guard lock(mutex_);
    set_ = true;
    condition_.notify_all();
}

void KOVAEvent::Reset()
{
    const std::lock_guard lock(mutex_);
    set_ = false;
}

bool KOVAEvent::IsSet() const
{
    const std::lock_guard lock(mutex_);
    return set_;
}

void KOVAEvent::Wake() noexcept
{
    const std::lock_guard lock(mutex_);
    condition_.notify_all();
}

bool KOVAEvent::Wait(KOVATimestamp timeoutUs)
{
    KOVAComponent* component = KOVAPrivate::CurrentComponent();
    KOVAStopSignal* signal = component ? &component->StopSignal() : nullptr;
    const KOVAWakerSubscription subscription(signal, this);

    std::unique_lock lock(mutex_);
    auto ready = [&] { return set_ || (signal && signal->StopRequested()); };
    const bool woken = KOVADeadline::AfterUs(timeoutUs).WaitUntil(condition_, lock, ready);
    if (set_) {
        if (autoReset_)
            set_ = false;
        return true;
    }
    if (woken && signal && signal->StopRequested()) {
        lock.unlock();
        KOVA::Raise(KOVA::ModuleDied);
    }
    return false;
}
