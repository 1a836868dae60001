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

/// Receive buffers for recvmmsg: `slots` datagrams of up to `slotBytes`
/// each, reused for every call.
///
/// Thread-bound: owned by one receiving thread.
class DatagramBatch {
public:
    DatagramBatch(size_t slots, size_t slotBytes);

    /// Takes up to `slots` queued datagrams from `fd` without blocking.
    /// Returns how many (0 when none was queued), or -1 with errno set.
    int receive(int fd);

    size_t capacity() const { return headers_.size(); }
    ReceivedDatagram datagram(size_t index) const;
    Ipv4Endpoint sender(size_t index) const { return Ipv4Endpoint::fromSockaddr(senders_[index]); }

private:
    size_t slotBytes_;
    std::unique_ptr<uint8_t[]> storage_;
    std::vector<iovec> iovecs_;
    std::vector<sockaddr_in> senders_;
    std::vector<mmsghdr> headers_;
};

} // namespace vxqir::sim
