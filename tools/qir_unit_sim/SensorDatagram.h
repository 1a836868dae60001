// SensorDatagram.h - validation of sensor datagrams received by the unit.
#pragma once

#include "ReplayMessages.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace vxqir::sim {

/// Why a sensor datagram was refused. A refused datagram is counted and
/// takes no further part in verification.
enum class DatagramFault : uint8_t {
    None,
    TooShort,     ///< fewer than the 24 header bytes
    Truncated,    ///< longer than the receive buffer; its end was cut off
    BadVersion,   ///< version byte is not QIR_PROTOCOL_VERSION
    ReservedBits, ///< flag bits 0-5 or the reserved2 bytes are not zero
    SizeMismatch, ///< payloadSize differs from the datagram length minus 24
};
inline constexpr size_t DATAGRAM_FAULT_COUNT = 6;

/// Short snake_case name of a fault, used in counters and the summary.
std::string_view datagramFaultName(DatagramFault fault);

/// A sensor datagram: its header and a view of its payload bytes, which
/// borrows the receive buffer.
struct SensorDatagram {
    ReplaySensorMessageHeader header{};
    std::span<const uint8_t> payload;
};

struct ParsedDatagram {
    DatagramFault fault = DatagramFault::None;
    SensorDatagram datagram;
};

/// Validates one received sensor datagram. `receivedLength` is the real
/// datagram length (larger than `bytes.size()` when the receive buffer cut
/// it). Never reads past `bytes`. Thread-safe (pure function).
ParsedDatagram parseSensorDatagram(std::span<const uint8_t> bytes, size_t receivedLength);

} // namespace vxqir::sim
