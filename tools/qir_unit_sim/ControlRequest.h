// ControlRequest.h - validation of control requests received by the unit.
#pragma once

#include "ReplayMessages.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace vxqir::sim {

/// Why a control request was refused. A refused request is counted and
/// never answered.
enum class RequestFault : uint8_t {
    None,
    TooShort,        ///< fewer than the 12 header bytes
    BadMagic,        ///< first five bytes are not the control magic
    BadVersion,      ///< version byte is not QIR_PROTOCOL_VERSION
    LengthMismatch,  ///< packet_length differs from the received length
    UnknownCommand,  ///< command value is not in the command table
    PayloadMismatch, ///< packet_length does not fit the command's payload
};
inline constexpr size_t REQUEST_FAULT_COUNT = 7;

/// Short snake_case name of a fault, used in counters and the summary.
std::string_view requestFaultName(RequestFault fault);

/// A control request that passed validation. `message` holds the received
/// bytes; the payload bytes the command does not use are zero.
struct ControlRequest {
    ReplayControlMessage message{};

    Command command() const { return static_cast<Command>(message.command); }
    uint8_t channel() const { return message.channel_number; }
    uint16_t requestId() const { return message.request_id; }
};

/// Result of parsing one datagram: `fault` is None exactly when `request`
/// is valid.
struct ParsedRequest {
    RequestFault fault = RequestFault::None;
    ControlRequest request;
};

/// Validates one received control datagram. `receivedLength` is the real
/// length of the datagram, which may exceed `bytes.size()` when the receive
/// buffer cut it; such a datagram never matches its one-byte length field.
/// Never reads past `bytes`. Thread-safe (pure function).
ParsedRequest parseControlRequest(std::span<const uint8_t> bytes, size_t receivedLength);

} // namespace vxqir::sim
