// DatagramBatch.h - receives many datagrams with one system call.
#pragma once

#include "Ipv4Endpoint.h"

#include <sys/socket.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace vxqir::sim {

/// One received datagram: the bytes kept (at most one slot) and its real
/// length, which is larger when the datagram did not fit its slot.
struct ReceivedDatagram {
    std::span<const uint8_t> bytes;
    size_t length = 0;
};

/// Receive buffers for recvmmsg: `slots` messages of up to `slotBytes`
/// each, reused for every call.
///
/// A socket with UDP receive offload (enableReceiveOffload) may hand over
/// several datagrams of one sender as one message: equal segments, the last
/// possibly shorter, with the segment size in a control message. Each
/// message is split back into its datagrams, so datagram(i) always means
/// one datagram as the sender sent it, in arrival order.
///
/// Thread-bound: owned by one receiving thread.
class DatagramBatch {
public:
    /// Datagrams the kernel joins into one message at most.
    static constexpr size_t MAX_SEGMENTS_PER_MESSAGE = 64;

    DatagramBatch(size_t slots, size_t slotBytes);

    /// Asks the kernel to join datagrams on `fd` (UDP_GRO); false when it
    /// does not offer that, which changes nothing else.
    static bool enableReceiveOffload(int fd);

    /// Takes up to `slots` queued messages from `fd` without blocking.
    /// Returns how many messages (0 when none was queued), or -1 with errno
    /// set; datagramCount() tells how many datagrams they held.
    int receive(int fd);

    size_t capacity() const { return headers_.size(); }
    size_t datagramCount() const { return datagramCount_; }
    ReceivedDatagram datagram(size_t index) const { return datagrams_[index]; }
    Ipv4Endpoint sender(size_t index) const { return Ipv4Endpoint::fromSockaddr(senders_[messageOf_[index]]); }

private:
    /// Splits message `message` into datagrams appended at datagramCount_.
    void split(size_t message);

    size_t slotBytes_;
    std::unique_ptr<uint8_t[]> storage_;
    std::vector<iovec> iovecs_;
    std::vector<sockaddr_in> senders_;
    std::vector<mmsghdr> headers_;
    // One control buffer per message, for the segment size of a joined one.
    struct alignas(cmsghdr) Control {
        uint8_t bytes[CMSG_SPACE(sizeof(int))];
    };
    std::vector<Control> controls_;
    std::vector<ReceivedDatagram> datagrams_; // slots * MAX_SEGMENTS_PER_MESSAGE
    std::vector<size_t> messageOf_;           // message index of each datagram
    size_t datagramCount_ = 0;
};

} // namespace vxqir::sim
