#include "DatagramBatch.h"

#include <netinet/in.h>
#include <netinet/udp.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace vxqir::sim {

DatagramBatch::DatagramBatch(size_t slots, size_t slotBytes)
    : slotBytes_(slotBytes)
    , storage_(std::make_unique<uint8_t[]>(slots * slotBytes))
    , iovecs_(slots)
    , senders_(slots)
    , headers_(slots)
    , controls_(slots)
    , datagrams_(slots * MAX_SEGMENTS_PER_MESSAGE)
    , messageOf_(slots * MAX_SEGMENTS_PER_MESSAGE)
{ }

bool DatagramBatch::enableReceiveOffload(int fd)
{
    const int on = 1;
    return ::setsockopt(fd, SOL_UDP, UDP_GRO, &on, sizeof(on)) == 0;
}

int DatagramBatch::receive(int fd)
{
    datagramCount_ = 0;
    for (size_t i = 0; i < headers_.size(); ++i) {
        iovecs_[i].iov_base = storage_.get() + i * slotBytes_;
        iovecs_[i].iov_len = slotBytes_;
        headers_[i] = {};
        headers_[i].msg_hdr.msg_iov = &iovecs_[i];
        headers_[i].msg_hdr.msg_iovlen = 1;
        headers_[i].msg_hdr.msg_name = &senders_[i];
        headers_[i].msg_hdr.msg_namelen = sizeof(sockaddr_in);
        headers_[i].msg_hdr.msg_control = controls_[i].bytes;
        headers_[i].msg_hdr.msg_controllen = sizeof(controls_[i].bytes);
    }
    // MSG_TRUNC makes msg_len the real datagram length, so a datagram cut by
    // its slot is recognised as such.
    const int n =
        ::recvmmsg(fd, headers_.data(), static_cast<unsigned>(headers_.size()), MSG_DONTWAIT | MSG_TRUNC, nullptr);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
        return 0;
    for (int i = 0; i < n; ++i)
        split(static_cast<size_t>(i));
    return n;
}

void DatagramBatch::split(size_t message)
{
    const msghdr& header = headers_[message].msg_hdr;
    const size_t length = headers_[message].msg_len;
    const size_t kept = std::min(length, slotBytes_);
    const uint8_t* bytes = storage_.get() + message * slotBytes_;

    size_t segment = 0;
    for (const cmsghdr* c = CMSG_FIRSTHDR(&header); c != nullptr;
         c = CMSG_NXTHDR(const_cast<msghdr*>(&header), const_cast<cmsghdr*>(c))) {
        if (c->cmsg_level == SOL_UDP && c->cmsg_type == UDP_GRO && c->cmsg_len >= CMSG_LEN(sizeof(int))) {
            int size = 0;
            std::memcpy(&size, CMSG_DATA(c), sizeof(size));
            segment = size > 0 ? static_cast<size_t>(size) : 0;
        }
    }
    // A message cut by its slot, or one that is not joined, is one datagram
    // with its real length, as without offload.
    if (segment == 0 || length > slotBytes_ || length <= segment) {
        datagrams_[datagramCount_] = { { bytes, kept }, length };
        messageOf_[datagramCount_++] = message;
        return;
    }
    for (size_t offset = 0; offset < length; offset += segment) {
        const size_t size = std::min(segment, length - offset);
        if (datagramCount_ == datagrams_.size())
            return; // more segments than the kernel ever joins
        datagrams_[datagramCount_] = { { bytes + offset, size }, size };
        messageOf_[datagramCount_++] = message;
    }
}

} // namespace vxqir::sim
