#include "Ipv4Endpoint.h"

#include <arpa/inet.h>
#include <sys/socket.h>

namespace vxqir::sim {

std::optional<Ipv4Endpoint> Ipv4Endpoint::parse(std::string_view ip, uint16_t port)
{
    const std::string text(ip);
    in_addr addr{};
    if (inet_pton(AF_INET, text.c_str(), &addr) != 1)
        return std::nullopt;
    return Ipv4Endpoint{ addr.s_addr, port };
}

Ipv4Endpoint Ipv4Endpoint::fromSockaddr(const sockaddr_in& sa)
{
    return Ipv4Endpoint{ sa.sin_addr.s_addr, ntohs(sa.sin_port) };
}

Ipv4Endpoint Ipv4Endpoint::ofSocket(int fd)
{
    sockaddr_in sa{};
    socklen_t length = sizeof(sa);
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &length) != 0 || sa.sin_family != AF_INET)
        return {};
    return fromSockaddr(sa);
}

sockaddr_in Ipv4Endpoint::toSockaddr() const
{
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = address;
    sa.sin_port = htons(port);
    return sa;
}

std::string Ipv4Endpoint::ipText() const
{
    char buffer[INET_ADDRSTRLEN] = {};
    in_addr addr{};
    addr.s_addr = address;
    inet_ntop(AF_INET, &addr, buffer, sizeof(buffer));
    return buffer;
}

std::string Ipv4Endpoint::toString() const
{
    return ipText() + ":" + std::to_string(port);
}

} // namespace vxqir::sim
