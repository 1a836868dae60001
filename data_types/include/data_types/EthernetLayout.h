// EthernetLayout.h - Ethernet framing seen inside an Ethernet record.
//
// The record keeps the MAC addresses and the first ether type in its type
// header; the payload starts right after that ether type. VLAN tags are part
// of the payload:
//
//   one tag (ether type 0x8100):
//    0       2            4
//   +-------+------------+----------
//   | TCI   | ether type | IP header ...
//   +-------+------------+----------
//
//   two tags (ether type 0x88A8, outer tag then inner 0x8100 tag):
//    0       2            4       6            8
//   +-------+------------+-------+------------+----------
//   | TCI   | 0x8100     | TCI   | ether type | IP header ...
//   +-------+------------+-------+------------+----------
//
// On the wire (and in a pcap record) the frame starts with a 14-byte header:
// destination MAC, source MAC, ether type (big-endian).
#pragma once

#include <cstddef>
#include <cstdint>

namespace qir::data_types::ethernet {

inline constexpr uint16_t kEtherTypeIpv4 = 0x0800;
inline constexpr uint16_t kEtherTypeIpv6 = 0x86DD;
inline constexpr uint16_t kEtherTypeVlan = 0x8100;
inline constexpr uint16_t kEtherTypeDoubleVlan = 0x88A8;

inline constexpr size_t kMacSize = 6;
/// Destination MAC, source MAC and ether type of a frame on the wire.
inline constexpr size_t kWireHeaderSize = 2 * kMacSize + 2;

/// Bytes of the payload taken by one VLAN tag, and where its inner ether
/// type lies in the payload.
inline constexpr size_t kSingleTagSize = 4;
inline constexpr size_t kSingleTagInnerTypeOffset = 2;
/// The same for two tags.
inline constexpr size_t kDoubleTagSize = 8;
inline constexpr size_t kDoubleTagInnerTypeOffset = 6;

/// Low 12 bits of a tag control information field: the VLAN id.
inline constexpr uint16_t kVlanIdMask = 0x0FFF;

} // namespace qir::data_types::ethernet
