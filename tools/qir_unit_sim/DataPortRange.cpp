#include "DataPortRange.h"

#include <cerrno>

namespace vxqir::sim {
namespace {

DataPortRange bindRange(const Ipv4Endpoint& base, unsigned channels)
{
    DataPortRange range;
    range.basePort = base.port;
    range.sockets.reserve(channels);
    for (unsigned c = 0; c < channels; ++c) {
        const auto port = static_cast<uint16_t>(base.port + c);
        if (port == 0)
            throw SocketSetupError("data port of channel " + std::to_string(c) + " (base " + std::to_string(base.port) +
                                       " + channel) wraps to 0, which cannot be served",
                                   EINVAL);
        range.sockets.push_back(UdpSocket::bound({ base.address, port }));
    }
    return range;
}

} // namespace

DataPortRange bindDataPorts(const std::string& ip, uint16_t basePort, unsigned channels, std::mt19937_64& random)
{
    const auto address = Ipv4Endpoint::parse(ip, basePort);
    if (!address)
        throw SocketSetupError("data address '" + ip + "' is not a dotted-decimal IPv4 address", EINVAL);
    if (basePort != 0)
        return bindRange(*address, channels);

    const unsigned span = RANDOM_BASE_PORT_MAX - RANDOM_BASE_PORT_MIN - channels;
    std::uniform_int_distribution<unsigned> pick(0, span);
    for (int attempt = 0; attempt < RANDOM_BASE_PORT_ATTEMPTS; ++attempt) {
        const auto base = static_cast<uint16_t>(RANDOM_BASE_PORT_MIN + pick(random));
        try {
            return bindRange({ address->address, base }, channels);
        } catch (const SocketSetupError& e) {
            if (e.error() != EADDRINUSE && e.error() != EACCES)
                throw;
        }
    }
    throw SocketSetupError("found no " + std::to_string(channels) + " consecutive free data ports on " + ip +
                               " after " + std::to_string(RANDOM_BASE_PORT_ATTEMPTS) + " tries",
                           EADDRINUSE);
}

} // namespace vxqir::sim
