#include "DatagramBatch.h"

#include <algorithm>
#include <cerrno>

namespace vxqir::sim {

DatagramBatch::DatagramBatch(size_t slots, size_t slotBytes)
    : slotBytes_(slotBytes),
      storage_(std::make_unique<uint8_t[]>(slots * slotBytes)),
      iovecs_(slots),
      senders_(slots),
      headers_(slots)
{
}

int DatagramBatch::receive(int fd)
{
    for (size_t i = 0; i < headers_.size(); ++i) {
        iovecs_[i].iov_base = storage_.get() + i * slotBytes_;
        iovecs_[i].iov_len = slotBytes_;
        headers_[i] = {};
        headers_[i].msg_hdr.msg_iov = &iovecs_[i];
        headers_[i].msg_hdr.msg_iovlen = 1;
        headers_[i].msg_hdr.msg_name = &senders_[i];
        headers_[i].msg_hdr.msg_namelen = sizeof(sockaddr_in);
    }
    // MSG_TRUNC makes msg_len the real datagram length, so a datagram cut by
    // its slot is recognised as such.
    const int n = ::recvmmsg(fd, headers_.data(), static_cast<unsigned>(headers_.size()),
                             MSG_DONTWAIT | MSG_TRUNC, nullptr);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
        return 0;
    return n;
}

ReceivedDatagram DatagramBatch::datagram(size_t index) const
{
    const size_t length = headers_[index].msg_len;
    const size_t kept = std::min(length, slotBytes_);
    return { { storage_.get() + index * slotBytes_, kept }, length };
}

} // namespace vxqir::sim
