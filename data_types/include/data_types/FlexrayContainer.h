// FlexrayContainer.h - a recorded FlexRay frame.
#pragma once

#include "data_types/FlexrayFrameHeader.h"
#include "data_types/FlexrayHeader.h"
#include "data_types/TypedContainer.h"

namespace qir::data_types {

/// A FlexRay frame: FlexrayHeader plus up to 254 data bytes. Its replay-data
/// form is a FlexrayFrameHeader and the data. Thread-bound, like
/// BaseContainer.
class FlexrayContainer : public TypedContainer<FlexrayContainer, FlexrayHeader, ChannelType::FlexRay> {
public:
    /// See BaseContainer's constructor; `payload` holds base.payload_length bytes.
    FlexrayContainer(const BaseHeader& base, const FlexrayHeader& header, std::span<const uint8_t> payload,
                     bool copy_payload)
        : TypedContainer(base, header, payload, copy_payload)
    { }

    std::span<uint8_t> copy_replay_data_to(std::span<uint8_t> dst) const override;
    size_t get_replay_data_length() const override;

    /// Writes the 15-byte FlexrayHeader; returns the rest of `dst`.
    std::span<uint8_t> copy_flx_header_to(std::span<uint8_t> dst) const { return copy_type_header_to(dst); }

    /// The replay descriptor: id, the five flags as bits 0 to 4, cycle, channel.
    FlexrayFrameHeader get_flx_frame() const;
    /// Writes get_flx_frame() (5 bytes); returns the rest of `dst`. Throws
    /// std::length_error when it does not fit.
    std::span<uint8_t> copy_flx_frame_to(std::span<uint8_t> dst) const;
};

} // namespace qir::data_types
