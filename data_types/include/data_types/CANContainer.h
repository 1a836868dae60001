// CANContainer.h - a recorded CAN or CAN FD frame.
#pragma once

#include "data_types/CANFrameHeader.h"
#include "data_types/CANHeader.h"
#include "data_types/TypedContainer.h"

namespace qir::data_types {

/// A CAN frame: CANHeader plus up to 64 data bytes. Its replay-data form is
/// a CANFrameHeader (id, flags) and the data. Thread-bound, like
/// BaseContainer.
class CANContainer : public TypedContainer<CANContainer, CANHeader, ChannelType::CAN> {
public:
    /// See BaseContainer's constructor; `payload` holds base.payload_length bytes.
    CANContainer(const BaseHeader& base, const CANHeader& header, std::span<const uint8_t> payload, bool copy_payload)
        : TypedContainer(base, header, payload, copy_payload)
    { }

    std::span<uint8_t> copy_replay_data_to(std::span<uint8_t> dst) const override;
    size_t get_replay_data_length() const override;

    /// Writes the 10-byte CANHeader; returns the rest of `dst`.
    std::span<uint8_t> copy_can_header_to(std::span<uint8_t> dst) const { return copy_type_header_to(dst); }

    /// The replay descriptor: id and flags (bit 0 ide, bit 1 brs, bit 2 edl).
    CANFrameHeader get_can_frame() const;
    /// Writes get_can_frame() (5 bytes); returns the rest of `dst`. Throws
    /// std::length_error when it does not fit.
    std::span<uint8_t> copy_can_frame_to(std::span<uint8_t> dst) const;
};

} // namespace qir::data_types
