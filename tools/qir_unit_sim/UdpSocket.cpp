#include "UdpSocket.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace vxqir::sim {

UdpSocket::~UdpSocket()
{
    if (fd_ >= 0)
        ::close(fd_);
}

UdpSocket& UdpSocket::operator=(UdpSocket&& other) noexcept
{
    if (this != &other) {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = other.fd_;
        other.fd_ = -1;
    }
    return *this;
}

UdpSocket UdpSocket::bound(const Ipv4Endpoint& local)
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        const int error = errno;
        throw SocketSetupError("cannot create a UDP socket for " + local.toString() + ": " + std::strerror(error),
                               error);
    }
    UdpSocket socket(fd);
    const sockaddr_in sa = local.toSockaddr();
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&sa), sizeof(sa)) != 0) {
        const int error = errno;
        throw SocketSetupError("cannot bind UDP socket to " + local.toString() + ": " + std::strerror(error), error);
    }
    return socket;
}

int UdpSocket::release()
{
    const int fd = fd_;
    fd_ = -1;
    return fd;
}

uint16_t UdpSocket::localPort() const
{
    sockaddr_in sa{};
    socklen_t length = sizeof(sa);
    if (::getsockname(fd_, reinterpret_cast<sockaddr*>(&sa), &length) != 0)
        return 0;
    return Ipv4Endpoint::fromSockaddr(sa).port;
}

int UdpSocket::setReceiveBuffer(int bytes)
{
    if (::setsockopt(fd_, SOL_SOCKET, SO_RCVBUFFORCE, &bytes, sizeof(bytes)) != 0)
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof(bytes));
    int granted = 0;
    socklen_t length = sizeof(granted);
    ::getsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &granted, &length);
    return granted;
}

int UdpSocket::sendTo(std::span<const uint8_t> bytes, const Ipv4Endpoint& to) const
{
    const sockaddr_in sa = to.toSockaddr();
    const ssize_t sent =
        ::sendto(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(&sa), sizeof(sa));
    return sent < 0 ? errno : 0;
}

} // namespace vxqir::sim
