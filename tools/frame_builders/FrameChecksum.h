// FrameChecksum.h - the checksum of a frame as a unit receives it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace vxqir::frames {

/// Incremental 64-bit FNV-1a over the bytes of a frame in line order (line 0
/// first, each line's bytes in order). The emulated unit computes the same
/// value over every frame it receives complete, so a sender's value and the
/// unit's can be compared directly. Feeding bytes in pieces gives the same
/// value as feeding them whole.
///
/// Thread-bound (a plain value type).
class FrameChecksum {
public:
    static constexpr uint64_t OFFSET_BASIS = 0xcbf29ce484222325ull;
    static constexpr uint64_t PRIME = 0x100000001b3ull;

    void update(std::span<const uint8_t> bytes)
    {
        uint64_t h = hash_;
        for (uint8_t b : bytes) {
            h ^= b;
            h *= PRIME;
        }
        hash_ = h;
    }

    /// Feeds `count` zero bytes.
    void updateZeros(size_t count)
    {
        uint64_t h = hash_;
        for (size_t i = 0; i < count; ++i)
            h *= PRIME; // h ^ 0 == h
        hash_ = h;
    }

    uint64_t value() const { return hash_; }

private:
    uint64_t hash_ = OFFSET_BASIS;
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

/// A checksum as exactly 16 lower-case hex digits, as the emulated unit
/// prints it.
inline std::string checksumText(uint64_t value)
{
    static constexpr char digits[] = "0123456789abcdef";
    std::string out(16, '0');
    for (int i = 15; i >= 0; --i) {
        out[static_cast<size_t>(i)] = digits[value & 0xF];
        value >>= 4;
    }
    return out;
}

} // namespace vxqir::frames
