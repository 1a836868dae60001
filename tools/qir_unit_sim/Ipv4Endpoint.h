// Ipv4Endpoint.h - an IPv4 address and UDP port.
#pragma once

#include <netinet/in.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vxqir::sim {

/// An IPv4 address (network byte order, as in sockaddr_in) and a port (host
/// byte order). A plain value type.
struct Ipv4Endpoint {
    uint32_t address = 0;
    uint16_t port = 0;

    /// Parses a dotted-decimal address; nullopt when it is not one.
    static std::optional<Ipv4Endpoint> parse(std::string_view ip, uint16_t port);
    static Ipv4Endpoint fromSockaddr(const sockaddr_in& sa);
    /// The local address and port socket `fd` is bound to; 0.0.0.0:0 when
    /// it cannot be read.
    static Ipv4Endpoint ofSocket(int fd);

    sockaddr_in toSockaddr() const;
    std::string ipText() const;
    /// "a.b.c.d:port"
    std::string toString() const;

    bool operator==(const Ipv4Endpoint&) const = default;
};

} // namespace vxqir::sim
