// TransportLayout.h - the UDP and TCP fields that the Ethernet inspection reads.
//
//   UDP:                                        TCP (start):
//    0          2          4          6     8    0          2          4
//   +----------+----------+----------+-----+    +----------+----------+- - -
//   | src port | dst port | length   | sum |    | src port | dst port | ...
//   +----------+----------+----------+-----+    +----------+----------+- - -
//
// All big-endian. The UDP length counts the 8-byte header and the payload.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qir::data_types::transport {

inline constexpr uint8_t kProtocolTcp = 6;
inline constexpr uint8_t kProtocolUdp = 17;

inline constexpr size_t kSourcePortOffset = 0;
inline constexpr size_t kDestinationPortOffset = 2;
inline constexpr size_t kPortsSize = 4;
inline constexpr size_t kUdpLengthOffset = 4;
inline constexpr size_t kUdpHeaderSize = 8;

} // namespace qir::data_types::transport
