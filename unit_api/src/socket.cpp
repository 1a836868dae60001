#include "socket.h"

#include "Diagnostics.h"

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace vxqir {

void socket_init()
{ }

void socket_cleanup()
{ }

int socket_create()
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0) {
        diagnose(DiagnosticStream::Output, "Error: Failed to create socket");
        return -1;
    }
    const int policy = IP_PMTUDISC_DO;
    if (::setsockopt(fd, IPPROTO_IP, IP_MTU_DISCOVER, &policy, sizeof(policy)) != 0) {
        const int error = errno;
        diagnose(DiagnosticStream::Output, "Error: Failed to set Don't Fragment stuff, %s", std::strerror(error));
        ::close(fd);
        return -1;
    }
    return fd;
}

sockaddr_in make_socket_address(const char* ip, int port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    if (ip == nullptr || ::inet_aton(ip, &address.sin_addr) == 0)
        address.sin_addr.s_addr = htonl(INADDR_ANY);
    return address;
}

SocketError socket_send_to(int sockfd, const void* buf, size_t len, int flags, const sockaddr_in& destination)
{
    const ssize_t sent =
        ::sendto(sockfd, buf, len, flags, reinterpret_cast<const sockaddr*>(&destination), sizeof(destination));
    if (sent >= 0)
        return SocketError::NoError;
    const int error = errno;
    diagnose(DiagnosticStream::Error, "Error: Failed to send data (errno %d)", error);
    return error == EMSGSIZE ? SocketError::FragmentationError : SocketError::GenericError;
}

SocketError socket_send(int sockfd, const void* buf, int len, int flags, const char* ip, int port)
{
    if (len < 0) {
        diagnose(DiagnosticStream::Error, "Error: Failed to send data (errno %d)", EINVAL);
        return SocketError::GenericError;
    }
    return socket_send_to(sockfd, buf, static_cast<size_t>(len), flags, make_socket_address(ip, port));
}

int socket_receive(int sockfd, void* buf, int len, int flags, int& receive_len, char* ip_buffer, size_t ip_buffer_size)
{
    sockaddr_in sender{};
    socklen_t senderLength = sizeof(sender);
    const ssize_t received = ::recvfrom(sockfd, buf, len < 0 ? 0 : static_cast<size_t>(len), flags,
                                        reinterpret_cast<sockaddr*>(&sender), &senderLength);
    if (received < 0) {
        const int error = errno;
        const bool nothingQueued = (flags & MSG_DONTWAIT) != 0 && (error == EAGAIN || error == EWOULDBLOCK);
        if (!nothingQueued)
            diagnose(DiagnosticStream::Error, "Error: Failed to receive data (errno %d, %s)", error,
                     std::strerror(error));
        return -1;
    }
    if (ip_buffer != nullptr && ip_buffer_size > 0) {
        if (::inet_ntop(AF_INET, &sender.sin_addr, ip_buffer, static_cast<socklen_t>(ip_buffer_size)) == nullptr)
            ip_buffer[0] = '\0';
    }
    receive_len = static_cast<int>(received);
    return receive_len;
}

SocketError bind_socket(int sockfd, const char* ip, int port)
{
    const sockaddr_in address = make_socket_address(ip, port);
    const int result = ::bind(sockfd, reinterpret_cast<const sockaddr*>(&address), sizeof(address));
    const int error = errno;
    diagnose(DiagnosticStream::Output, "%d", result);
    if (result == 0)
        return SocketError::NoError;

    switch (error) {
    case EBADF:
        diagnose(DiagnosticStream::Output, "Bind: sockfd is not a valid file descriptor.");
        break;
    case EACCES:
        diagnose(DiagnosticStream::Output, "Bind: The address %s/%d is protected.", ip != nullptr ? ip : "", port);
        break;
    case EINVAL:
        diagnose(DiagnosticStream::Output, "Bind: The socket is already bound to an address.");
        break;
    case EADDRINUSE:
        diagnose(DiagnosticStream::Output, "Bind: The given address is already in use.");
        break;
    default:
        diagnose(DiagnosticStream::Output, "Bind: Failed with errno %d", error);
        break;
    }
    return SocketError::GenericError;
}

void socket_close(int sockfd)
{
    if (::close(sockfd) != 0) {
        const int error = errno;
        diagnose(DiagnosticStream::Error, "Error: Failed to close socket (errno %d)", error);
    }
}

bool is_valid_ipv4(const char* ip)
{
    if (ip == nullptr)
        return false;
    in_addr parsed{};
    return ::inet_pton(AF_INET, ip, &parsed) == 1;
}

} // namespace vxqir
