// SensorDatagramSender.h - sends a run of sensor datagrams with few system calls.
#pragma once

#include "ReplayMessages.h"
#include "socket.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/uio.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace vxqir {

// Collects sensor datagrams (a header copy plus a payload slice borrowed from
// the caller) and sends them in as few calls as the kernel allows:
//
//   Segmented  UDP generic segmentation offload: one message per run of
//              equal-sized datagrams (the last of a run may be shorter), the
//              runs of a pass handed over in one sendmmsg
//   Multiple   one sendmmsg of single-datagram messages
//   Single     one sendmsg per datagram
//
// Datagrams leave in the order they were added, each exactly as a single
// send of its header followed by its payload would put it on the wire. When
// a batched call sends nothing, the datagram at its head is sent alone,
// which either gets it out or gives the exact error of that datagram. A
// kernel that refuses a method (EINVAL, ENOPROTOOPT, EOPNOTSUPP, ENOSYS, EIO)
// while the datagram alone goes out moves the sender to the next method for
// good.
//
// All storage is allocated once by the constructor; adding and sending
// allocate nothing. The payload slices must stay valid until send returns.
//
// Thread-bound: one sending thread at a time.
class SensorDatagramSender {
public:
    enum class Mode : uint8_t { Segmented, Multiple, Single };

    // Datagrams held at once.
    static constexpr size_t CAPACITY = 256;
    // Datagrams of one segmented message, and its largest byte count.
    static constexpr size_t MAX_SEGMENTS = 64;
    static constexpr size_t MAX_SEGMENTED_BYTES = 65000;

    struct Result {
        size_t sent;       // datagrams that left, from the first on
        SocketError error; // NoError when all left
    };

    SensorDatagramSender();
    SensorDatagramSender(const SensorDatagramSender&) = delete;
    SensorDatagramSender& operator=(const SensorDatagramSender&) = delete;

    void clear() { count_ = 0; }
    bool full() const { return count_ == CAPACITY; }
    size_t size() const { return count_; }
    // The header of datagram i as it was added.
    const ReplaySensorMessageHeader& header(size_t i) const { return headers_[i]; }

    // Adds one datagram; the header is copied, the payload borrowed.
    // Precondition: !full().
    void add(const ReplaySensorMessageHeader& header, const uint8_t* payload, size_t size);

    // Sends every datagram held to destination; stops at the first datagram
    // that cannot be sent.
    Result send(int fd, const sockaddr_in& destination);

    // The method in use.
    Mode mode() const { return mode_; }
    // Never uses a method above `mode` (a setting for tests and for kernels
    // known to refuse offload).
    void limitMode(Mode mode);

private:
    // Each returns the number of datagrams from `first` on that left; 0 with
    // errno set when the call failed.
    size_t sendSegmented(int fd, const sockaddr_in& destination, size_t first);
    size_t sendMultiple(int fd, const sockaddr_in& destination, size_t first);
    SocketError sendOne(int fd, const sockaddr_in& destination, size_t index);
    void fillMessage(msghdr& message, const sockaddr_in& destination, size_t first, size_t count);

    Mode mode_ = Mode::Segmented;
    size_t count_ = 0;
    std::vector<ReplaySensorMessageHeader> headers_;
    std::vector<iovec> iov_;            // two per datagram: header, payload
    std::vector<mmsghdr> messages_;     // one per datagram at most
    std::vector<size_t> messageCounts_; // datagrams per message of the last call
    // One control buffer per message, aligned for cmsghdr.
    struct alignas(cmsghdr) Control {
        std::array<uint8_t, CMSG_SPACE(sizeof(uint16_t))> bytes;
    };
    std::vector<Control> controls_;
};

} // namespace vxqir
