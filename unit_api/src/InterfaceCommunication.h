// InterfaceCommunication.h - one local UDP endpoint and the channels using it.
#pragma once

#include "ChannelCommunication.h"
#include "ChannelKey.h"
#include "SocketHandle.h"
#include "VXQIRApi.h"

#include <poll.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace vxqir {

// A local address and port from which the library talks to QIR units.
//
// Owns the control socket bound to that endpoint: every control request of
// its channels leaves through it and every status message of their units
// arrives on it. Incoming datagrams are validated and handed to the channel
// named by (sender address, channel byte).
//
// Not thread-safe on its own: every operation runs under the API core's
// interface lock (the listener's setFD / checkAndProcess included).
class InterfaceCommunication {
public:
    // Creates and binds the control socket to localIP (or "0.0.0.0") and
    // localPort. Throws std::runtime_error("Bind failed") when that fails;
    // the socket layer has printed the reason.
    explicit InterfaceCommunication(const VXTQirInputInterfaceT& inputInterface);

    // Releases the channel table first (channels whose last reference goes
    // say goodbye to their units on the still open socket), then the socket.
    ~InterfaceCommunication();

    InterfaceCommunication(const InterfaceCommunication&) = delete;
    InterfaceCommunication& operator=(const InterfaceCommunication&) = delete;

    // True when this object serves the configuration's local endpoint: same
    // local address text (null meaning "0.0.0.0") and same local port.
    bool equals(const VXTQirInputInterfaceT& inputInterface) const;

    // Creates a channel on this endpoint and files it under its key,
    // replacing any channel with the same key.
    ChannelStatePtr createChannel(const VXTQirInputInterfaceT& inputInterface, VXTQirChannelNumber channel);
    void removeChannel(const ChannelKey& key);
    size_t getChannelCount() const { return channels_.size(); }

    // Appends the control socket to the descriptors the listener polls.
    void setFD(std::vector<pollfd>& fds) const;

    // Serves the control socket when the polled set reports it readable:
    // receives without waiting (a descriptor reused since the set was built
    // therefore never blocks the listener) and routes each accepted status
    // datagram to its channel. Takes at most MAX_DATAGRAMS_PER_PASS.
    void checkAndProcess(const std::vector<pollfd>& ready);

    // Routes one received datagram; public so that tests and the fuzz target
    // can drive the acceptance path without a socket.
    void processDatagram(const uint8_t* data, size_t length, const char* senderIp);

    const std::string& localIp() const { return local_ip_; }
    // The bound local port (the system's choice when configured as 0).
    uint16_t boundPort() const;
    int controlSocket() const { return control_socket_->get(); }

    static constexpr int MAX_DATAGRAMS_PER_PASS = 16;

private:
    const std::string local_ip_;
    const uint16_t local_port_;
    // Shared with every channel created here, so that a channel still held by
    // a running call never sends on a closed (or reused) descriptor.
    const std::shared_ptr<const SocketHandle> control_socket_;
    std::map<ChannelKey, ChannelStatePtr> channels_;
    std::array<uint8_t, IP_PACKET_LENGTH> receive_buffer_{};
};

} // namespace vxqir
