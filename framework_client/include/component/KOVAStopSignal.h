// A component's stop signal: set when the engine stops the component, it
// wakes every blocking call made on the component's behalf.
#pragma once

#include "abi/KOVAConstants.h"
#include "abi/KOVAStopToken.h"

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <vector>

/// Something blocked that the stop signal must wake.
class KOVAWaker {
public:
    /// Wakes the blocked call. Called with the stop signal's mutex held: it
    /// may take its own mutex, but must not call the stop signal.
    virtual void Wake() noexcept = 0;

protected:
    ~KOVAWaker() = default;
};

/// Thread-safe. Lock order: the stop signal's mutex before a waker's own.
class KOVAStopSignal final : public KOVAStopToken {
public:
    bool StopRequested() const noexcept override
    {
        // Acquire pairs with the release in Request: whoever sees the flag
        // sees what the stopping thread did before.
        return stopped_.load(std::memory_order_acquire);
    }
    /// Sets the signal and wakes every subscribed waker and every WaitFor.
    void Request();
    /// Clears the signal before a new run.
    void Reset();
    /// Waits `us` microseconds (KOVA::Infinite: without limit); returns true
    /// at once or as soon as the signal is set.
    bool WaitFor(KOVATimestamp us);

    void Subscribe(KOVAWaker* waker);
    void Unsubscribe(KOVAWaker* waker);

private:
    std::atomic<bool> stopped_{ false };
    std::mutex mutex_; ///< guards wakers_; the condition's mutex for WaitFor
    std::condition_variable condition_;
    std::vector<KOVAWaker*> wakers_;
};

/// Subscribes a waker for its lifetime.
class KOVAWakerSubscription {
public:
    KOVAWakerSubscription(KOVAStopSignal* signal, KOVAWaker* waker) : signal_(signal), waker_(waker)
    {
        if (signal_)
            signal_->Subscribe(waker_);
    }
    ~KOVAWakerSubscription()
    {
        if (signal_)
            signal_->Unsubscribe(waker_);
    }
    KOVAWakerSubscription(const KOVAWakerSubscription&) = delete;
    KOVAWakerSubscription& operator=(const KOVAWakerSubscription&) = delete;

private:
    KOVAStopSignal* signal_;
    KOVAWaker* waker_;
};
