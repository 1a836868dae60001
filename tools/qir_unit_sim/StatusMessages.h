// StatusMessages.h - the status records the unit sends: replies and periodic
// status. Every record goes out whole (28 bytes) with packet_length 28.
#pragma once

#include "ReplayMessages.h"

#include <cstdint>
#include <span>

namespace vxqir::sim {

/// Fields of one periodic status of a channel.
struct ChannelStatus {
    bool enabled = false;
    bool loss = false;
    bool ptpSynced = false;
    bool ptpActive = false;
    uint16_t rxPacketNumber = 0;
    uint32_t freeFifoEntries = 0;
    uint64_t currentTimeNs = 0;
};

/// A reply to a request on `channel` with `responseId`, of the given
/// response type and with a zero payload that the caller may fill.
ReplayStatusMessage makeReply(uint8_t channel, uint16_t responseType, uint16_t responseId);

/// A periodic status of `channel` (response type 0x00FF, response id 0).
ReplayStatusMessage makePeriodicStatus(uint8_t channel, const ChannelStatus& status);

/// The bytes of a record as they go on the wire.
inline std::span<const uint8_t> wireBytes(const ReplayStatusMessage& message)
{
    return { reinterpret_cast<const uint8_t*>(&message), message.packet_length };
}

} // namespace vxqir::sim
