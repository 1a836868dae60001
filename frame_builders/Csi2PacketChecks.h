// Csi2PacketChecks.h - the error-correction byte of a MIPI CSI-2 packet
// header and the checksum of a long packet's payload, as the CSI-2 standard
// defines them, so that recorded packets carry values a receiver (or a
// pre-flight check of a recording) accepts.
#pragma once

#include <cstdint>
#include <span>

namespace vxqir::frames {

/// The 6-bit Hamming code (bits 5-0; bits 7-6 zero) over the 24 header bits:
/// data identifier in bits 0-7, word count least significant byte first in
/// bits 8-23. It corrects one flipped bit and detects two.
uint8_t csi2HeaderEcc(uint8_t dataIdentifier, uint16_t wordCount);

/// The 16-bit checksum of a long packet's payload: CRC-16 with polynomial
/// x^16 + x^12 + x^5 + 1, bits taken least significant first, start value
/// 0xFFFF, no final inversion. A packet carries it after the payload, least
/// significant byte first. An empty payload gives 0xFFFF.
uint16_t csi2PayloadChecksum(std::span<const uint8_t> payload);

/// Data identifier: virtual channel (0-3) in bits 7-6, data type in bits 5-0.
constexpr uint8_t csi2DataIdentifier(uint8_t virtualChannel, uint8_t dataType)
{
    return static_cast<uint8_t>(((virtualChannel & 0x3u) << 6) | (dataType & 0x3Fu));
}

/// CSI-2 data types of the short packets the builders write.
inline constexpr uint8_t CSI2_FRAME_START = 0x00;
inline constexpr uint8_t CSI2_FRAME_END = 0x01;

} // namespace vxqir::frames
