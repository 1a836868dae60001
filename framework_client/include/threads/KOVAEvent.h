// An event a thread can wait for: manual reset by default (stays set until
// Reset), or automatic reset (one Wait consumes it).
#pragma once

#include "abi/KOVAConstants.h"
#include "component/KOVAStopSignal.h"

#include <condition_variable>
#include <mutex>

/// Thread-safe.
class KOVAEvent final : private KOVAWaker {
public:
    explicit KOVAEvent(bool autoReset = false) : autoReset_(autoReset) { }
    KOVAEvent(const KOVAEvent&) = delete;
    KOVAEvent& operator=(const KOVAEvent&) = delete;

    void Set();
    void Reset();
    bool IsSet() const;
    /// Waits until the event is set, at most `timeoutUs` microseconds
    /// (KOVA::Infinite: without limit). Returns true when set, false after
    /// the time-out. Called on a component's thread it is woken when the
    /// component is stopped and then raises KOVA::ModuleDied.
    bool Wait(KOVATimestamp timeoutUs = KOVA::Infinite);

private:
    void Wake() noexcept override;

    const bool autoReset_;
    mutable std::mutex mutex_; ///< guards set_
    std::condition_variable condition_;
    bool set_ = false;
};
