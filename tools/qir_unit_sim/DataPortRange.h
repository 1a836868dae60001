// DataPortRange.h - binds the data ports of all channels.
#pragma once

#include "UdpSocket.h"

#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace vxqir::sim {

/// The bound data sockets: channel n receives on basePort + n (16-bit wrap).
struct DataPortRange {
    uint16_t basePort = 0;
    std::vector<UdpSocket> sockets; ///< one per channel, in channel order
};

/// Base ports tried when the caller leaves the choice to the emulator. A
/// range that meets a port in use is retried elsewhere.
inline constexpr uint16_t RANDOM_BASE_PORT_MIN = 20000;
inline constexpr uint16_t RANDOM_BASE_PORT_MAX = 60000;
inline constexpr int RANDOM_BASE_PORT_ATTEMPTS = 100;

/// Binds `channels` consecutive ports on `ip`. With `basePort` 0, random
/// bases in [RANDOM_BASE_PORT_MIN, RANDOM_BASE_PORT_MAX) are tried until every
/// port of one range binds. Throws SocketSetupError naming the address, the
/// channel and the reason: a given range that wraps to port 0, a port in
/// use, or no free range after RANDOM_BASE_PORT_ATTEMPTS tries.
DataPortRange bindDataPorts(const std::string& ip, uint16_t basePort, unsigned channels, std::mt19937_64& random);

} // namespace vxqir::sim
