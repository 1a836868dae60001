// AuthenticationHeaderLayout.h - the IP authentication header (protocol 51).
//
//    0        1           2          4       8              12
//   +--------+-----------+----------+-------+--------------+- - -
//   | next   | payload   | reserved | SPI   | sequence no. | integrity check value
//   | header | len (n)   |          |       |              |
//   +--------+-----------+----------+-------+--------------+- - -
//
// The header takes 4 * n + 8 bytes.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qir::data_types::auth_header {

inline constexpr uint8_t kProtocol = 51;
inline constexpr size_t kNextHeaderOffset = 0;
inline constexpr size_t kPayloadLengthOffset = 1;
/// Bytes needed to learn the header's size.
inline constexpr size_t kFixedPrefixSize = 2;

constexpr size_t header_size(uint8_t payload_length_field)
{
    return 4 * size_t{ payload_length_field } + 8;
}

} // namespace qir::data_types::auth_header
