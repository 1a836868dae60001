// SOMEIPContainer.h - a recorded SOME/IP message.
#pragma once

#include "data_types/SOMEIPHeader.h"
#include "data_types/SOMEIPMessage.h"
#include "data_types/TypedContainer.h"

#include <memory>
#include <vector>

namespace qir::data_types {

/// A SOME/IP message: SOMEIPHeader plus the message payload. Its replay-data
/// form is the payload alone. Thread-bound, like BaseContainer.
class SOMEIPContainer : public TypedContainer<SOMEIPContainer, SOMEIPHeader, ChannelType::SOMEIP> {
public:
    /// See BaseContainer's constructor; `payload` holds base.payload_length bytes.
    SOMEIPContainer(const BaseHeader& base, const SOMEIPHeader& header, std::span<const uint8_t> payload,
                    bool copy_payload)
        : TypedContainer(base, header, payload, copy_payload)
    { }

    /// Writes the 22-byte SOMEIPHeader; returns the rest of `dst`.
    std::span<uint8_t> copy_someip_header_to(std::span<uint8_t> dst) const { return copy_type_header_to(dst); }

    /// A container of `message`: its time, its header and a copy of its payload.
    static std::shared_ptr<SOMEIPContainer> from_someip_message(const SOMEIPMessage& message);
    /// from_someip_message of each message, in order.
    static std::vector<std::shared_ptr<SOMEIPContainer>>
    from_someip_messages(const std::vector<SOMEIPMessage>& messages);
};

} // namespace qir::data_types
