// SomeIpWireLayout.h - one SOME/IP message as it travels in a UDP payload.
//
// All fields big-endian. `length` counts from the client id to the end of
// the message, so a message takes length + 8 bytes.
//
//    0          2          4              8          10         12   13   14   15   16
//   +----------+----------+--------------+----------+----------+----+----+----+----+- - -
//   | service  | method   | length       | client   | session  | pv | iv | mt | rc | payload
//   +----------+----------+--------------+----------+----------+----+----+----+----+- - -
//   method: top bit set for an event
//
// A transport segment (message type with bit 0x20) carries a 4-byte word
// after the header, then its part of the payload:
//
//    16                                 20
//   +----------------------------+-----+- - -
//   | offset (28 bits)           |resm | segment payload
//   +----------------------------+-----+- - -
#pragma once

#include <cstddef>
#include <cstdint>

namespace qir::data_types::someip {

inline constexpr size_t kHeaderSize = 16;
/// Bytes of the header that `length` does not count (service, method, length).
inline constexpr size_t kUncountedSize = 8;
/// Smallest `length`: client id to return code.
inline constexpr uint32_t kMinimumLength = 8;
inline constexpr size_t kSegmentWordSize = 4;
/// Smallest `length` of a segment: the counted header part and the segment word.
inline constexpr uint32_t kMinimumSegmentLength = 12;

inline constexpr size_t kServiceIdOffset = 0;
inline constexpr size_t kMethodIdOffset = 2;
inline constexpr size_t kLengthOffset = 4;
inline constexpr size_t kClientIdOffset = 8;
inline constexpr size_t kSessionIdOffset = 10;
inline constexpr size_t kProtocolVersionOffset = 12;
inline constexpr size_t kInterfaceVersionOffset = 13;
inline constexpr size_t kMessageTypeOffset = 14;
inline constexpr size_t kReturnCodeOffset = 15;
inline constexpr size_t kSegmentWordOffset = 16;

inline constexpr uint16_t kEventBit = 0x8000;
inline constexpr uint8_t kSegmentFlag = 0x20;
inline constexpr unsigned kSegmentOffsetShift = 4;
inline constexpr uint32_t kSegmentResmMask = 0x0F;

inline constexpr uint8_t kProtocolVersion = 1;
inline constexpr uint8_t kLowestInterfaceVersion = 1;
inline constexpr uint8_t kHighestInterfaceVersion = 2;

/// UDP port of SOME/IP service discovery, where tools look first.
inline constexpr uint16_t kServiceDiscoveryPort = 30490;

} // namespace qir::data_types::someip
