// SocketHandle.h - owner of one socket descriptor.
#pragma once

#include "socket.h"

#include <utility>

namespace vxqir {

// Owns a descriptor made by socket_create() and closes it with
// socket_close() when destroyed. Movable, not copyable. Thread-safe for
// concurrent sends through get(); closing is the owner's business.
class SocketHandle {
public:
    SocketHandle() = default;
    explicit SocketHandle(int fd) : fd_(fd) { }
    ~SocketHandle() { reset(); }

    SocketHandle(const SocketHandle&) = delete;
    SocketHandle& operator=(const SocketHandle&) = delete;
    SocketHandle(SocketHandle&& other) noexcept : fd_(other.release()) { }
    SocketHandle& operator=(SocketHandle&& other) noexcept
    {
        if (this != &other) {
            reset();
            fd_ = other.release();
        }
        return *this;
    }

    // The descriptor, or -1 when there is none.
    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }

    // Gives up ownership without closing.
    [[nodiscard]] int release() { return std::exchange(fd_, -1); }

    // Closes the descriptor, if any.
    void reset()
    {
        if (fd_ >= 0)
            socket_close(std::exchange(fd_, -1));
    }

private:
    int fd_ = -1;
};

} // namespace vxqir
