// PacketContinuity.h - checks the running packet number of a channel.
#pragma once

#include <cstdint>

namespace vxqir::sim {

/// What one packet number means for the sequence.
struct ContinuityResult {
    uint32_t missing = 0; ///< datagrams skipped before this one (0: in sequence)
    bool late = false;    ///< behind the expected number: reordered or repeated
};

/// Follows the 16-bit packet number of one channel's sensor datagrams. The
/// number wraps from 65535 to 0. A number up to half the number space ahead
/// of the expected one is a gap of that many datagrams; one behind it is a
/// late (reordered or repeated) datagram, which does not move the sequence.
///
/// Thread-bound: guarded by the owning channel's lock.
class PacketContinuity {
public:
    ContinuityResult observe(uint16_t packetNumber)
    {
        ContinuityResult r;
        if (started_) {
            const auto distance = static_cast<uint16_t>(packetNumber - expected_);
            if (distance >= 0x8000u) {
                r.late = true;
                return r;
            }
            r.missing = distance;
        }
        started_ = true;
        expected_ = static_cast<uint16_t>(packetNumber + 1);
        return r;
    }

    /// Forgets the sequence; the next number starts a new one.
    void restart() { started_ = false; }

private:
    bool started_ = false;
    uint16_t expected_ = 0;
};

} // namespace vxqir::sim
