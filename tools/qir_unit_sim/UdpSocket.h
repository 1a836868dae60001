// UdpSocket.h - owner of one IPv4 UDP socket.
#pragma once

#include "Ipv4Endpoint.h"

#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>

namespace vxqir::sim {

/// Failure to set up a socket; the text names the address and the reason.
class SocketSetupError : public std::runtime_error {
public:
    SocketSetupError(const std::string& what, int error) : std::runtime_error(what), error_(error) { }
    /// The errno value of the failed call.
    int error() const { return error_; }

private:
    int error_;
};

/// Owns one non-blocking IPv4 UDP socket; closes it on destruction.
///
/// Thread-safe for sendTo (the kernel serialises datagram sends); setup
/// calls are thread-bound to the owner.
class UdpSocket {
public:
    UdpSocket() = default;
    ~UdpSocket();
    UdpSocket(const UdpSocket&) = delete;
    UdpSocket& operator=(const UdpSocket&) = delete;
    UdpSocket(UdpSocket&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
    UdpSocket& operator=(UdpSocket&& other) noexcept;

    /// A new non-blocking socket bound to `local` (port 0: the system picks).
    /// Throws SocketSetupError naming the endpoint and the reason.
    static UdpSocket bound(const Ipv4Endpoint& local);

    int fd() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    /// Gives up ownership; the caller must close the descriptor.
    [[nodiscard]] int release();

    /// The port the socket is bound to (host order); 0 when unbound.
    uint16_t localPort() const;

    /// Asks for a receive buffer of `bytes`: first beyond the system limit
    /// (SO_RCVBUFFORCE, allowed to root), else up to it. Returns the size the
    /// kernel granted (which counts its bookkeeping, about twice the request).
    int setReceiveBuffer(int bytes);

    /// Sends one datagram; returns 0 or the errno of the failed send.
    int sendTo(std::span<const uint8_t> bytes, const Ipv4Endpoint& to) const;

private:
    explicit UdpSocket(int fd) : fd_(fd) { }
    int fd_ = -1;
};

} // namespace vxqir::sim
