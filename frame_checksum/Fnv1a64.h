// Fnv1a64.h - the frame checksum: 64-bit FNV-1a.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace vxqir {

/// Incremental 64-bit FNV-1a hash. The checksum of a frame is this hash over
/// the frame's bytes in line order (line 0 first, each line's payload in
/// datagram order). The emulated unit computes it over every frame it
/// receives complete and the senders' side (frame builders, sources) over
/// what it sent, so the two can be compared directly or as 16 lower-case hex
/// digits.
///
/// Thread-bound (a plain value type).
class Fnv1a64 {
public:
    static constexpr uint64_t OFFSET_BASIS = 0xcbf29ce484222325ull;
    static constexpr uint64_t PRIME = 0x100000001b3ull;

    /// Feeds bytes; feeding a sequence in pieces gives the same value as
    /// feeding it whole.
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

    /// The value as exactly 16 lower-case hex digits.
    static std::string toHex(uint64_t value)
    {
        static constexpr char digits[] = "0123456789abcdef";
        std::string out(16, '0');
        for (int i = 15; i >= 0; --i) {
            out[static_cast<size_t>(i)] = digits[value & 0xF];
            value >>= 4;
        }
        return out;
    }

private:
    uint64_t hash_ = OFFSET_BASIS;
};

} // namespace vxqir
