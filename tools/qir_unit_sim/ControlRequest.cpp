#include "ControlRequest.h"

#include "byte_io/ByteReader.h"

#include <algorithm>

namespace vxqir::sim {

std::string_view requestFaultName(RequestFault fault)
{
    switch (fault) {
    case RequestFault::None:
        return "none";
    case RequestFault::TooShort:
        return "too_short";
    case RequestFault::BadMagic:
        return "bad_magic";
    case RequestFault::BadVersion:
        return "bad_version";
    case RequestFault::LengthMismatch:
        return "length_mismatch";
    case RequestFault::UnknownCommand:
        return "unknown_command";
    case RequestFault::PayloadMismatch:
        return "payload_mismatch";
    }
    return "unknown";
}

ParsedRequest parseControlRequest(std::span<const uint8_t> bytes, size_t receivedLength)
{
    ParsedRequest out;
    qir::ByteReader reader(bytes);
    const auto magic = reader.read_bytes(QIR_CONTROL_MAGIC_BYTES.size());
    const auto version = reader.read<uint8_t>();
    const auto packetLength = reader.read<uint8_t>();
    const auto channel = reader.read<uint8_t>();
    const auto command = reader.read<uint16_t>();
    const auto requestId = reader.read<uint16_t>();
    if (reader.overflowed() || receivedLength < CONTROL_HEADER_LENGTH) {
        out.fault = RequestFault::TooShort;
        return out;
    }
    if (!std::equal(magic.begin(), magic.end(), QIR_CONTROL_MAGIC_BYTES.begin())) {
        out.fault = RequestFault::BadMagic;
        return out;
    }
    if (version != QIR_PROTOCOL_VERSION) {
        out.fault = RequestFault::BadVersion;
        return out;
    }
    if (packetLength != receivedLength) {
        out.fault = RequestFault::LengthMismatch;
        return out;
    }
    if (!isKnownCommand(command)) {
        out.fault = RequestFault::UnknownCommand;
        return out;
    }
    const size_t payloadLength = commandPayloadLength(static_cast<Command>(command));
    if (packetLength != CONTROL_HEADER_LENGTH + payloadLength) {
        out.fault = RequestFault::PayloadMismatch;
        return out;
    }
    const auto payload = reader.read_bytes(payloadLength);
    if (reader.overflowed()) {
        out.fault = RequestFault::TooShort;
        return out;
    }

    ReplayControlMessage& m = out.request.message;
    std::copy(magic.begin(), magic.end(), m.MAGIC_BYTES);
    m.VERSION = version;
    m.packet_length = packetLength;
    m.channel_number = channel;
    m.command = command;
    m.request_id = requestId;
    std::copy(payload.begin(), payload.end(), reinterpret_cast<uint8_t*>(&m.payload));
    return out;
}

} // namespace vxqir::sim
