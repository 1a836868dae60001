// A plain (non-recursive) mutex of the framework.
#pragma once

#include <mutex>

/// Thread-safe. Lock and Release must pair on one thread.
class KOVAMutex {
public:
    void Lock() { mutex_.lock(); }
    void Release() { mutex_.unlock(); }
    bool TryLock() { return mutex_.try_lock(); }

    // BasicLockable, so that std::lock_guard<KOVAMutex> works.
    void lock() { Lock(); }
    void unlock() { Release(); }

private:
    std::mutex mutex_;
};
