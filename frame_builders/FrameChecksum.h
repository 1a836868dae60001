// FrameChecksum.h - the checksum of a frame as a unit receives it.
#pragma once

#include "Fnv1a64.h"
#include "FrameDigest.h"

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

/// What is expected of one frame at the unit: the checksum it reports and
/// the digest the emulated unit matches frames by, over the same bytes.
struct FrameSums {
    uint64_t checksum = 0; ///< FrameChecksum (FNV-1a 64)
    uint64_t digest = 0;   ///< FrameDigest (XXH3 64)
    bool operator==(const FrameSums&) const = default;
};

/// Feeds a frame's bytes to both hashes at once, for senders that tell both.
///
/// Thread-bound (a plain value type).
class FrameSumsHasher {
public:
    void update(std::span<const uint8_t> bytes)
    {
        checksum_.update(bytes);
        digest_.update(bytes);
    }
    void updateZeros(size_t count)
    {
        checksum_.updateZeros(count);
        digest_.updateZeros(count);
    }
    FrameSums value() const { return { .checksum = checksum_.value(), .digest = digest_.value() }; }

private:
    FrameChecksum checksum_;
    FrameDigest digest_;
};

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

/// Checksum and digest of a frame sent as `packets`, one line each, in order.
inline FrameSums sumsOfPackets(const std::vector<PacketBytes>& packets)
{
    FrameSumsHasher sums;
    for (PacketBytes packet : packets)
        sums.update(packet);
    return sums.value();
}

/// A checksum as exactly 16 lower-case hex digits, as the emulated unit
/// prints it.
inline std::string checksumText(uint64_t value)
{
    return Fnv1a64::toHex(value);
}

} // namespace vxqir::frames
