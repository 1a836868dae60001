#include "InterfaceCommunication.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <stdexcept>

namespace vxqir {

namespace {

std::string localIpOf(const VXTQirInputInterfaceT& inputInterface)
{
    return inputInterface.localIP != nullptr ? inputInterface.localIP : "0.0.0.0";
}

std::shared_ptr<const SocketHandle> createBoundSocket(const std::string& ip, uint16_t port)
{
    SocketHandle socket(socket_create());
    // A failed creation leaves -1, and binding it fails with EBADF, printed
    // by the socket layer like any other bind failure.
    if (bind_socket(socket.get(), ip.c_str(), port) != SocketError::NoError)
        throw std::runtime_error("Bind failed");
    return std::make_shared<const SocketHandle>(std::move(socket));
}

} // namespace

InterfaceCommunication::InterfaceCommunication(const VXTQirInputInterfaceT& inputInterface)
    : local_ip_(localIpOf(inputInterface))
    , local_port_(inputInterface.localPort)
    , control_socket_(createBoundSocket(local_ip_, local_port_))
{ }

InterfaceCommunication::~InterfaceCommunication()
{
    channels_.clear();
}

bool InterfaceCommunication::equals(const VXTQirInputInterfaceT& inputInterface) const
{
    return local_port_ == inputInterface.localPort && local_ip_ == localIpOf(inputInterface);
}

ChannelStatePtr InterfaceCommunication::createChannel(const VXTQirInputInterfaceT& inputInterface,
                                                      VXTQirChannelNumber channel)
{
    auto state = std::make_shared<ChannelState>(inputInterface, channel, control_socket_);
    channels_.insert_or_assign(state->getChannelKey(), state);
    return state;
}

void InterfaceCommunication::removeChannel(const ChannelKey& key)
{
    channels_.erase(key);
}

void InterfaceCommunication::setFD(std::vector<pollfd>& fds) const
{
    fds.push_back(pollfd{ control_socket_->get(), POLLIN, 0 });
}

uint16_t InterfaceCommunication::boundPort() const
{
    sockaddr_in address{};
    socklen_t length = sizeof(address);
    if (::getsockname(control_socket_->get(), reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return local_port_;
    return ntohs(address.sin_port);
}

void InterfaceCommunication::checkAndProcess(const std::vector<pollfd>& ready)
{
    const int fd = control_socket_->get();
    bool readable = false;
    for (const pollfd& entry : ready) {
        if (entry.fd == fd && (entry.revents & (POLLIN | POLLERR)) != 0)
            readable = true;
    }
    if (!readable)
        return;

    for (int n = 0; n < MAX_DATAGRAMS_PER_PASS; ++n) {
        char sender[INET_ADDRSTRLEN] = {};
        int received = 0;
        if (socket_receive(fd, receive_buffer_.data(), static_cast<int>(receive_buffer_.size()), MSG_DONTWAIT, received,
                           sender, sizeof(sender)) <= 0)
            return;
        processDatagram(receive_buffer_.data(), static_cast<size_t>(received), sender);
    }
}

void InterfaceCommunication::processDatagram(const uint8_t* data, size_t length, const char* senderIp)
{
    if (!isAcceptedStatusHeader(data, length) || senderIp == nullptr)
        return;
    const auto channel = channels_.find(ChannelKey{ senderIp, statusChannelByte(data) });
    if (channel == channels_.end())
        return;
    channel->second->processStatusMessage(statusRecordFromDatagram(data, length));
}

} // namespace vxqir
