// FrameDigest.h - the digest frames are matched by: 64-bit XXH3.
#pragma once

// The hash functions are compiled into each user, so nothing links
// libxxhash at run time; the header comes from libxxhash-dev.
#ifndef XXH_INLINE_ALL
#define XXH_INLINE_ALL
#endif
#include <xxhash.h>

#include <cstddef>
#include <cstdint>
#include <span>

namespace vxqir {

/// Incremental 64-bit XXH3 (seed 0) over a frame's bytes in line order, the
/// same bytes as the frame checksum (Fnv1a64) covers. The emulated unit
/// matches every frame it receives against the sender's expectation by this
/// digest, which costs a small part of a core at a gigabyte per second; the
/// FNV-1a checksum that a unit reports is computed only where it is read.
///
/// Thread-bound (a plain value type).
class FrameDigest {
public:
    FrameDigest() { reset(); }

    /// Starts again, as a new digest.
    void reset() { XXH3_64bits_reset(&state_); }

    /// Feeds bytes; feeding a sequence in pieces gives the same value as
    /// feeding it whole.
    void update(std::span<const uint8_t> bytes)
    {
        if (!bytes.empty())
            XXH3_64bits_update(&state_, bytes.data(), bytes.size());
    }

    /// Feeds `count` zero bytes.
    void updateZeros(size_t count)
    {
        static constexpr uint8_t zeros[4096] = {};
        for (; count > 0;) {
            const size_t n = count < sizeof zeros ? count : sizeof zeros;
            XXH3_64bits_update(&state_, zeros, n);
            count -= n;
        }
    }

    uint64_t value() const { return XXH3_64bits_digest(&state_); }

    /// The digest of `bytes` fed whole.
    static uint64_t of(std::span<const uint8_t> bytes) { return XXH3_64bits(bytes.data(), bytes.size()); }

private:
    XXH3_state_t state_;
};

} // namespace vxqir
