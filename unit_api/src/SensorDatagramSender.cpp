#include "SensorDatagramSender.h"

#include "Diagnostics.h"

#include <netinet/udp.h>

#include <cerrno>
#include <cstring>

namespace vxqir {

namespace {

// The kernel refuses the method itself rather than this datagram.
bool methodRefused(int error)
{
    return error == EINVAL || error == ENOPROTOOPT || error == EOPNOTSUPP || error == ENOSYS || error == EIO;
}

size_t datagramBytes(const iovec* iov)
{
    return iov[0].iov_len + iov[1].iov_len;
}

} // namespace

SensorDatagramSender::SensorDatagramSender()
    : headers_(CAPACITY)
    , iov_(2 * CAPACITY)
    , messages_(CAPACITY)
    , messageCounts_(CAPACITY)
    , controls_(CAPACITY)
{ }

void SensorDatagramSender::add(const ReplaySensorMessageHeader& header, const uint8_t* payload, size_t size)
{
    headers_[count_] = header;
    iov_[2 * count_] = iovec{ &headers_[count_], SENSOR_HEADER_SIZE };
    iov_[2 * count_ + 1] = iovec{ const_cast<uint8_t*>(payload), size };
    ++count_;
}

void SensorDatagramSender::limitMode(Mode mode)
{
    if (mode > mode_)
        mode_ = mode;
}

void SensorDatagramSender::fillMessage(msghdr& message, const sockaddr_in& destination, size_t first, size_t count)
{
    message = msghdr{};
    message.msg_name = const_cast<sockaddr_in*>(&destination);
    message.msg_namelen = sizeof(destination);
    message.msg_iov = &iov_[2 * first];
    message.msg_iovlen = 2 * count;
}

size_t SensorDatagramSender::sendSegmented(int fd, const sockaddr_in& destination, size_t first)
{
    size_t messages = 0;
    size_t next = first;
    while (next < count_) {
        // A run of equal sizes; a shorter datagram closes it, a longer one
        // opens the next.
        const size_t segment = datagramBytes(&iov_[2 * next]);
        size_t count = 1;
        size_t bytes = segment;
        while (next + count < count_ && count < MAX_SEGMENTS) {
            const size_t size = datagramBytes(&iov_[2 * (next + count)]);
            if (size > segment || bytes + size > MAX_SEGMENTED_BYTES)
                break;
            ++count;
            bytes += size;
            if (size < segment)
                break;
        }
        msghdr& message = messages_[messages].msg_hdr;
        fillMessage(message, destination, next, count);
        if (count > 1) {
            Control& control = controls_[messages];
            message.msg_control = control.bytes.data();
            message.msg_controllen = control.bytes.size();
            cmsghdr* header = CMSG_FIRSTHDR(&message);
            header->cmsg_level = SOL_UDP;
            header->cmsg_type = UDP_SEGMENT;
            header->cmsg_len = CMSG_LEN(sizeof(uint16_t));
            const auto size = static_cast<uint16_t>(segment);
            std::memcpy(CMSG_DATA(header), &size, sizeof(size));
        }
        messageCounts_[messages] = count;
        ++messages;
        next += count;
    }

    if (messages == 1)
        return ::sendmsg(fd, &messages_[0].msg_hdr, 0) >= 0 ? messageCounts_[0] : 0;
    const int done = ::sendmmsg(fd, messages_.data(), static_cast<unsigned>(messages), 0);
    size_t sent = 0;
    for (int i = 0; i < done; ++i)
        sent += messageCounts_[static_cast<size_t>(i)];
    return sent;
}

size_t SensorDatagramSender::sendMultiple(int fd, const sockaddr_in& destination, size_t first)
{
    const size_t count = count_ - first;
    for (size_t i = 0; i < count; ++i)
        fillMessage(messages_[i].msg_hdr, destination, first + i, 1);
    const int done = ::sendmmsg(fd, messages_.data(), static_cast<unsigned>(count), 0);
    return done > 0 ? static_cast<size_t>(done) : 0;
}

SocketError SensorDatagramSender::sendOne(int fd, const sockaddr_in& destination, size_t index)
{
    msghdr message{};
    fillMessage(message, destination, index, 1);
    if (::sendmsg(fd, &message, 0) >= 0)
        return SocketError::NoError;
    const int error = errno;
    diagnose(DiagnosticStream::Error, "Error: Failed to send data (errno %d)", error);
    return error == EMSGSIZE ? SocketError::FragmentationError : SocketError::GenericError;
}

SensorDatagramSender::Result SensorDatagramSender::send(int fd, const sockaddr_in& destination)
{
    size_t done = 0;
    while (done < count_) {
        size_t sent = 0;
        int error = 0;
        if (mode_ == Mode::Segmented)
            sent = sendSegmented(fd, destination, done);
        else if (mode_ == Mode::Multiple)
            sent = sendMultiple(fd, destination, done);
        if (sent == 0 && mode_ != Mode::Single)
            error = errno;
        if (sent > 0) {
            done += sent;
            continue;
        }
        // Nothing left in the batched call: the head goes alone, so the
        // caller sees this datagram's own result.
        const SocketError single = sendOne(fd, destination, done);
        if (single != SocketError::NoError)
            return Result{ done, single };
        if (error != 0 && methodRefused(error))
            mode_ = mode_ == Mode::Segmented ? Mode::Multiple : Mode::Single;
        ++done;
    }
    return Result{ done, SocketError::NoError };
}

} // namespace vxqir
