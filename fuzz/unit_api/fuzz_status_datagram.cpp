// Feeds arbitrary datagrams to the acceptance path of status messages: the
// header checks, the routing by sender address and channel byte, and the
// channel's handling of periodic status and replies.
//
// Input: byte 0 picks the sender address, the rest is the datagram.

#include "InterfaceCommunication.h"

#include <cstddef>
#include <cstdint>
#include <memory>

namespace {

using namespace vxqir;

struct Target {
    Target()
    {
        VXTQirInputInterfaceT config{};
        config.controlIP = "127.0.0.2";
        config.controlPort = 9; // discard; the channel's goodbye goes nowhere
        config.dataIP = "127.0.0.3";
        config.dataBasePort = 9;
        config.localIP = "127.0.0.1";
        config.maxPayloadSize = 1448;
        endpoint = std::make_unique<InterfaceCommunication>(config);
        for (VXTQirChannelNumber channel : { 0, 1, 255 })
            channels.push_back(endpoint->createChannel(config, channel));
        config.controlIP = "127.0.0.4";
        channels.push_back(endpoint->createChannel(config, 0));
    }
    std::unique_ptr<InterfaceCommunication> endpoint;
    std::vector<ChannelStatePtr> channels;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static Target target;
    if (size == 0)
        return 0;
    static const char* const senders[] = { "127.0.0.2", "127.0.0.4", "127.0.0.3", "" };
    const char* sender = senders[data[0] % 4];
    target.endpoint->processDatagram(data + 1, size - 1, sender);
    for (const ChannelStatePtr& channel : target.channels) {
        VXTQirStatusT status{};
        (void)channel->getCurrentState(status);
    }
    return 0;
}
