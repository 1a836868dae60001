#include "component/KOVAStopSignal.h"
#include "threads/KOVADeadline.h"

#include <algorithm>
#include <chrono>

void KOVAStopSignal::Request()
{
    const std::lock_guard lock(mutex_);
    stopped_.store(true, std::memory_order_release);
    condition_.notify_all();
    for (KOVAWaker* waker : wakers_)
        waker->Wake();
}

void KOVAStopSignal::Reset()
{
    const std::lock_guard lock(mutex_);
    stopped_.store(false, std::memory_order_release);
}

bool KOVAStopSignal::WaitFor(KOVATimestamp us)
{
    std::unique_lock lock(mutex_);
    auto stopped = [this] { return stopped_.load(std::memory_order_acquire); };
    return KOVADeadline::AfterUs(us).WaitUntil(condition_, lock, stopped);
}

void KOVAStopSignal::Subscribe(KOVAWaker* waker)
{
    const std::lock_guard lock(mutex_);
    wakers_.push_back(waker);
}

void KOVAStopSignal::Unsubscribe(KOVAWaker* waker)
{
    const std::lock_guard lock(mutex_);
    wakers_.erase(std::remove(wakers_.begin(), wakers_.end(), waker), wakers_.end());
}
