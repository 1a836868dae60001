// PLPRawContainer.h - a raw PLP probe message as recorded.
#pragma once

#include "data_types/PLPRawHeader.h"
#include "data_types/TypedContainer.h"

namespace qir::data_types {

/// A raw PLP probe message: PLPRawHeader plus its data. Its replay-data form is the data alone.
/// Thread-bound, like BaseContainer.
class PLPRawContainer : public TypedContainer<PLPRawContainer, PLPRawHeader, ChannelType::PLPRaw> {
public:
    /// See BaseContainer's constructor; `payload` holds base.payload_length bytes.
    PLPRawContainer(const BaseHeader& base, const PLPRawHeader& header, std::span<const uint8_t> payload,
                    bool copy_payload)
        : TypedContainer(base, header, payload, copy_payload)
    { }

    /// Writes the 10-byte PLPRawHeader; returns the rest of `dst`.
    std::span<uint8_t> copy_plpraw_header_to(std::span<uint8_t> dst) const { return copy_type_header_to(dst); }
};

} // namespace qir::data_types
