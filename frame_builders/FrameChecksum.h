// FrameChecksum.h - the checksum of a frame as a unit receives it.
#pragma once

#include "Fnv1a64.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace vxqir::frames {

/// The checksum of a frame as the unit computes it: 64-bit FNV-1a over the
/// bytes of a frame in line order (line 0 first, each line's bytes in
/// order). One definition with the emulated unit's, so a sender's value and
/// the unit's can be compared directly.
using FrameChecksum = Fnv1a64;

/// The bytes of one unit packet (one line of a frame), borrowed from the
/// frame they were cut from.
using PacketBytes = std::span<const uint8_t>;

/// Checksum of a frame sent as `packets`, one line each, in order.
inline uint64_t checksumOfPackets(const std::vector<PacketBytes>& packets)
{
    FrameChecksum sum;
    for (PacketBytes packet : packets)
        sum.update(packet);
    return sum.value();
}

/// A checksum as exactly 16 lower-case hex digits, as the emulated unit
/// prints it.
inline std::string checksumText(uint64_t value)
{
    return Fnv1a64::toHex(value);
}

} // namespace vxqir::frames
