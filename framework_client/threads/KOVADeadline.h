// Waits bounded by a time-out in microseconds of any size.
//
// `steady_clock::now() + microseconds(us)` overflows for time-outs of a few
// hundred years, and some wait implementations convert the deadline into
// narrower clocks that overflow much sooner: a very long time-out would turn
// into one that has already passed. A KOVADeadline saturates instead (a
// time-out too long to represent never expires), and WaitUntil waits in
// slices of at most a day, so no wait primitive ever sees a far deadline.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

/// A point on the steady clock, or never. Thread-compatible value type.
class KOVADeadline {
public:
    using Clock = std::chrono::steady_clock;

    /// `timeoutUs` microseconds from now; a negative time-out never expires.
    static KOVADeadline AfterUs(int64_t timeoutUs) noexcept
    {
        KOVADeadline deadline;
        if (timeoutUs < 0)
            return deadline;
        const Clock::time_point now = Clock::now();
        const auto room = std::chrono::duration_cast<std::chrono::microseconds>(Clock::time_point::max() - now);
        if (timeoutUs < room.count()) {
            deadline.at_ = now + std::chrono::microseconds(timeoutUs);
            deadline.never_ = false;
        }
        return deadline;
    }

    bool Never() const noexcept { return never_; }
    bool Passed() const noexcept { return !never_ && Clock::now() >= at_; }

    /// Waits on `condition` until `ready()` holds (true) or the deadline
    /// passes (false). Same contract as condition_variable::wait_until with a
    /// predicate, for deadlines of any distance.
    template <typename Predicate>
    bool WaitUntil(std::condition_variable& condition, std::unique_lock<std::mutex>& lock, Predicate ready) const
    {
        constexpr auto kSlice = std::chrono::hours(24);
        while (!ready()) {
            const Clock::time_point now = Clock::now();
            if (!never_ && now >= at_)
                return false;
            const Clock::time_point sliceEnd = never_ || at_ - now > kSlice ? now + kSlice : at_;
            condition.wait_until(lock, sliceEnd);
        }
        return true;
    }

private:
    KOVADeadline() = default;

    Clock::time_point at_{};
    bool never_ = true;
};
