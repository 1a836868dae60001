// LINContainer.h - a recorded LIN frame.
#pragma once

#include "data_types/LINFrameHeader.h"
#include "data_types/LINHeader.h"
#include "data_types/TypedContainer.h"

namespace qir::data_types {

/// A LIN frame: LINHeader plus up to 8 data bytes. Its replay-data form is
/// the id byte and the data. Thread-bound, like BaseContainer.
class LINContainer : public TypedContainer<LINContainer, LINHeader, ChannelType::LIN> {
public:
    /// See BaseContainer's constructor; `payload` holds base.payload_length bytes.
    LINContainer(const BaseHeader& base, const LINHeader& header, std::span<const uint8_t> payload, bool copy_payload)
        : TypedContainer(base, header, payload, copy_payload)
    { }

    std::span<uint8_t> copy_replay_data_to(std::span<uint8_t> dst) const override;
    size_t get_replay_data_length() const override;

    /// Writes the 3-byte LINHeader; returns the rest of `dst`.
    std::span<uint8_t> copy_lin_header_to(std::span<uint8_t> dst) const { return copy_type_header_to(dst); }

    /// The replay descriptor: the id byte.
    LINFrameHeader get_lin_frame() const { return LINFrameHeader{ type_header_.id }; }
    /// Writes get_lin_frame() (1 byte); returns the rest of `dst`. Throws
    /// std::length_error when it does not fit.
    std::span<uint8_t> copy_lin_frame_to(std::span<uint8_t> dst) const;
};

} // namespace qir::data_types
