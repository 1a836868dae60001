// EthernetHeader.h - type header of an Ethernet record (follows the base header).
//
//    0               6               12          14            18
//   +---------------+---------------+-----------+-------------+
//   | src_mac (6)   | dst_mac (6)   | ether_type| crc (u32)   |
//   +---------------+---------------+-----------+-------------+
//
// ether_type is a little-endian u16 here like every record integer (on the
// wire it is big-endian). The payload is the Ethernet frame after the ether
// type, VLAN tags included.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace qir::data_types {

struct [[gnu::packed]] EthernetHeader {
    std::array<uint8_t, 6> src_mac;
    std::array<uint8_t, 6> dst_mac;
    uint16_t ether_type;
    uint32_t crc;
};

static_assert(sizeof(EthernetHeader) == 18);
static_assert(offsetof(EthernetHeader, src_mac) == 0);
static_assert(offsetof(EthernetHeader, dst_mac) == 6);
static_assert(offsetof(EthernetHeader, ether_type) == 12);
static_assert(offsetof(EthernetHeader, crc) == 14);

} // namespace qir::data_types
