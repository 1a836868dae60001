// CompletedFrame.h - a frame that arrived whole, on its way to the checksum.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace vxqir::sim {

/// The bytes of one complete frame in line order (line 0 first, each line's
/// payload in datagram order), with the geometry the unit had for it.
struct CompletedFrame {
    uint8_t channel = 0;
    uint16_t frameNumber = 0;
    uint16_t width = 0;       ///< as set with SET_FRAME_SIZE
    uint16_t height = 0;      ///< lines of the frame
    uint64_t timestampNs = 0; ///< timestamp of the frame's first datagram
    uint64_t sequence = 0;    ///< running number of complete frames of the channel, from 1
    std::vector<uint8_t> bytes;
    std::vector<uint32_t> lineLengths; ///< bytes of each line, `height` entries
    /// FrameDigest of `bytes`, when it was taken while they arrived (every
    /// piece came in line order); else the checksum thread takes it.
    std::optional<uint64_t> digest;
};

} // namespace vxqir::sim
