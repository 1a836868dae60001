// ProgressNotifier.h - lets a thread wait until the emulator has seen
// something, without sleeping for a guessed time.
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace vxqir::sim {

/// Wakes waiters whenever the emulator made progress (a batch of datagrams,
/// a request). Costs the notifying thread one atomic load while nobody waits.
///
/// Thread-safe.
class ProgressNotifier {
public:
    void notify()
    {
        // Acquire pairs with the waiter's increment: a waiter that is
        // registered is seen. A waiter that registers just after this load
        // re-checks its predicate at least every slice, so no wake-up is lost
        // for longer than that.
        if (waiters_.load(std::memory_order_acquire) == 0)
            return;
        {
            std::lock_guard lock(mutex_);
            ++generation_;
        }
        changed_.notify_all();
    }

    /// Returns true as soon as `predicate()` holds, false when it still does
    /// not after `timeout`. The predicate runs on the calling thread.
    template <typename Predicate>
    bool waitUntil(Predicate predicate, std::chrono::milliseconds timeout)
    {
        using Clock = std::chrono::steady_clock;
        constexpr auto slice = std::chrono::milliseconds(20);
        const auto deadline = Clock::now() + timeout;
        waiters_.fetch_add(1, std::memory_order_acq_rel);
        bool satisfied = false;
        for (;;) {
            if (predicate()) {
                satisfied = true;
                break;
            }
            const auto now = Clock::now();
            if (now >= deadline)
                break;
            std::unique_lock lock(mutex_);
            const uint64_t seen = generation_;
            changed_.wait_for(lock, std::min<Clock::duration>(deadline - now, slice),
                              [&] { return generation_ != seen; });
        }
        waiters_.fetch_sub(1, std::memory_order_acq_rel);
        return satisfied;
    }

private:
    std::atomic<int> waiters_{ 0 };
    std::mutex mutex_; // guards generation_
    std::condition_variable changed_;
    uint64_t generation_ = 0;
};

} // namespace vxqir::sim
