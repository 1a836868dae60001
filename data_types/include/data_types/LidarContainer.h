// LidarContainer.h - a lidar scan as recorded.
#pragma once

#include "data_types/LidarHeader.h"
#include "data_types/TypedContainer.h"

namespace qir::data_types {

/// A lidar scan: LidarHeader plus its data. Its replay-data form is the data alone.
/// Thread-bound, like BaseContainer.
class LidarContainer : public TypedContainer<LidarContainer, LidarHeader, ChannelType::Lidar> {
public:
    /// See BaseContainer's constructor; `payload` holds base.payload_length bytes.
    LidarContainer(const BaseHeader& base, const LidarHeader& header, std::span<const uint8_t> payload,
                   bool copy_payload)
        : TypedContainer(base, header, payload, copy_payload)
    { }

    /// Writes the 6-byte LidarHeader; returns the rest of `dst`.
    std::span<uint8_t> copy_lidar_header_to(std::span<uint8_t> dst) const { return copy_type_header_to(dst); }
};

} // namespace qir::data_types
