// Ipv4Layout.h - the IPv4 header fields that the Ethernet inspection reads.
//
//    0         1     2            4                    8     9     10     12         16         20
//   +----+----+-----+------------+--------------------+-----+-----+------+----------+----------+- - -
//   |ver |IHL | TOS | total len  | id, flags, offset  | TTL |proto| csum | src addr | dst addr | options
//   +----+----+-----+------------+--------------------+-----+-----+------+----------+----------+- - -
//
// IHL counts 32-bit words; a header has 5 to 15 of them.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qir::data_types::ipv4 {

inline constexpr uint8_t kVersion = 4;
inline constexpr size_t kVersionIhlOffset = 0;
inline constexpr size_t kProtocolOffset = 9;
inline constexpr size_t kSourceOffset = 12;
inline constexpr size_t kDestinationOffset = 16;
inline constexpr size_t kAddressSize = 4;
inline constexpr size_t kMinimumHeaderSize = 20;
inline constexpr size_t kIhlUnit = 4;
inline constexpr uint8_t kMinimumIhl = 5;

} // namespace qir::data_types::ipv4
