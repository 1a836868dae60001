// SOMEIPMessage.h - SOME/IP messages read from a UDP payload.
#pragma once

#include "data_types/SOMEIPHeader.h"

#include <cstdint>
#include <functional>
#include <span>
#include <vector>

namespace qir::data_types {

/// One SOME/IP message: its header (in host order), its payload bytes and
/// the time of the frame it came from. A transport segment keeps its
/// offset_field and resm; segments are not reassembled.
struct SOMEIPMessage {
    SOMEIPHeader header{};
    std::vector<uint8_t> payload;
    int64_t timestamp = 0;

    /// Reads the messages that fill `buffer` one after the other.
    ///
    /// A buffer of fewer than 16 bytes holds none. Every message must have
    /// protocol version 1 and interface version 1 or 2, a `length` of at
    /// least 8 (12 for a transport segment) and must end within the buffer;
    /// otherwise ContainerError "Container does not valid SOME/IP data" is
    /// raised, its detail naming the message's offset and the reason.
    /// Reading stops when the buffer is used up or fewer than 16 bytes remain.
    static std::vector<SOMEIPMessage> read_someip_messages(std::span<const uint8_t> buffer, int64_t timestamp);

    /// As read_someip_messages, but hands each message to `visit` (header and
    /// a view of its payload inside `buffer`) instead of copying it; messages
    /// before a faulty one have been handed over when the error is raised.
    static void visit_someip_messages(std::span<const uint8_t> buffer,
                                      const std::function<void(const SOMEIPHeader&, std::span<const uint8_t>)>& visit);
};

} // namespace qir::data_types
