// WakeEvent.h - wakes a thread that waits in poll or epoll.
#pragma once

namespace vxqir::sim {

/// Owns an eventfd that a waiting thread includes in its poll set.
///
/// Thread-safe: signal() from any thread; clear() from the waiting thread.
class WakeEvent {
public:
    /// Throws std::system_error when no eventfd can be created.
    WakeEvent();
    ~WakeEvent();
    WakeEvent(const WakeEvent&) = delete;
    WakeEvent& operator=(const WakeEvent&) = delete;

    int fd() const { return fd_; }
    /// Makes fd() readable until clear().
    void signal();
    void clear();

private:
    int fd_;
};

} // namespace vxqir::sim
