// Ipv6Layout.h - the IPv6 header fields that the Ethernet inspection reads.
//
//    0                 4              6       7       8              24             40
//   +-----------------+--------------+-------+-------+--------------+--------------+- - -
//   | ver, class, flow| payload len  | next  | hops  | src addr(16) | dst addr(16) | payload
//   +-----------------+--------------+-------+-------+--------------+--------------+- - -
#pragma once

#include <cstddef>
#include <cstdint>

namespace qir::data_types::ipv6 {

inline constexpr uint8_t kVersion = 6;
inline constexpr size_t kPayloadLengthOffset = 4;
inline constexpr size_t kNextHeaderOffset = 6;
inline constexpr size_t kSourceOffset = 8;
inline constexpr size_t kDestinationOffset = 24;
inline constexpr size_t kAddressSize = 16;
inline constexpr size_t kHeaderSize = 40;

} // namespace qir::data_types::ipv6
