// EthernetFrameHeader.h - descriptor written before an Ethernet payload in the
// replay-data form.
//
//    0               6               12                 14
//   +---------------+---------------+------------------+-------- - -
//   | src_mac (6)   | dst_mac (6)   | ether_type (BE)  | payload
//   +---------------+---------------+------------------+-------- - -
//
// Unlike the record header the replay device takes the ether type in network
// (big-endian) order, and the source address comes first.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace qir::data_types {

struct [[gnu::packed]] EthernetFrameHeader {
    std::array<uint8_t, 6> src_mac;
    std::array<uint8_t, 6> dst_mac;
    std::array<uint8_t, 2> ether_type; ///< big-endian

    constexpr uint16_t get_ether_type() const { return static_cast<uint16_t>((ether_type[0] << 8) | ether_type[1]); }
    constexpr void set_ether_type(uint16_t value)
    {
        ether_type = { static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value) };
    }
};

static_assert(sizeof(EthernetFrameHeader) == 14);
static_assert(offsetof(EthernetFrameHeader, src_mac) == 0);
static_assert(offsetof(EthernetFrameHeader, dst_mac) == 6);
static_assert(offsetof(EthernetFrameHeader, ether_type) == 12);

} // namespace qir::data_types
