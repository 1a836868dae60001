// ReplayMessages.h - the wire formats spoken with a QIR unit.
//
// This header alone defines the three datagram layouts, their constants and
// the acceptance rules of incoming status datagrams. The client library and
// the unit emulator both use it; no other file repeats an offset, a size or a
// magic value.
//
// Every record is packed and every multi-byte field is little-endian (host
// order on the platforms we build for; checked below). A datagram carries
// exactly one message.
//
// Control request, host -> unit control port (only packet_length bytes sent):
//
//    0       5   6   7   8       10      12                      20
//   +-------+---+---+---+-------+-------+-----------------------+
//   |"QIR-C"|ver|len|ch | cmd   | req id| payload (0, 4 or 8)   |
//   +-------+---+---+---+-------+-------+-----------------------+
//
// Status message, unit control address -> host control socket:
//
//    0       5   6   7   8       10      12                              28
//   +-------+---+---+---+-------+-------+-------------------------------+
//   |"QIR-S"|ver|len|ch | type  | resp  | payload (status / buffer /    |
//   |       |   |   |   |       | id    |  timestamp / frame size)      |
//   +-------+---+---+---+-------+-------+-------------------------------+
//
// Sensor datagram, host data socket -> unit dataIP:(dataBasePort + channel):
//
//    0     2     4     6   7   8     10  11        16              24
//   +-----+-----+-----+---+---+-----+---+---------+---------------+---------
//   |frame|line |size |ver|flg|pkt# |sid|reserved2| timestamp ns  | payload
//   +-----+-----+-----+---+---+-----+---+---------+---------------+---------
//   flg: bits 0-5 reserved (0), bit 6 end of line, bit 7 end of frame
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace vxqir {

static_assert(std::endian::native == std::endian::little,
              "wire records are stored in host order and must be little-endian");

// Protocol constants ---------------------------------------------------------

inline constexpr uint8_t QIR_PROTOCOL_VERSION = 3;
inline constexpr std::array<uint8_t, 5> QIR_STATUS_MAGIC_BYTES{ 'Q', 'I', 'R', '-', 'S' };
inline constexpr std::array<uint8_t, 5> QIR_CONTROL_MAGIC_BYTES{ 'Q', 'I', 'R', '-', 'C' };

// Size of the buffer into which one status datagram is read.
inline constexpr size_t IP_PACKET_LENGTH = 1500;
// IPv4 header without options and UDP header, for MTU arithmetic.
inline constexpr size_t IP_HEADER_LENGTH = 20;
inline constexpr size_t UDP_HEADER_LENGTH = 8;

// Control requests: 12 header bytes plus 0, 4 or 8 payload bytes.
inline constexpr size_t CONTROL_HEADER_LENGTH = 12;
inline constexpr size_t CONTROL_MESSAGE_SIZE = 20;
// Status messages: the record is 28 bytes; acceptance reads the first 8.
inline constexpr size_t STATUS_MESSAGE_SIZE = 28;
inline constexpr size_t STATUS_MIN_ACCEPTED_LENGTH = 8;
// Sensor datagrams: 24 header bytes followed by the payload.
inline constexpr size_t SENSOR_HEADER_SIZE = 24;

// Largest sensor payload that fits one datagram on a link of the given MTU.
constexpr size_t maxSensorPayloadForMtu(size_t mtu)
{
    return mtu - IP_HEADER_LENGTH - UDP_HEADER_LENGTH - SENSOR_HEADER_SIZE;
}
static_assert(maxSensorPayloadForMtu(1500) == 1448);
static_assert(maxSensorPayloadForMtu(9000) == 8948);

// Commands ------------------------------------------------------------------

enum class Command : uint16_t {
    DISABLE_CHANNEL = 0,
    ENABLE_CHANNEL = 1,
    RESET_CHANNEL = 2,
    GET_BUFFER_SIZE = 3,
    DISABLE_STATUS_MESSAGES = 16,
    ENABLE_STATUS_MESSAGES = 17,
    CLEAR_STATUS_FLAGS = 18,
    SET_OFFSET_TIMESTAMP = 32,
    GET_OFFSET_TIMESTAMP = 33,
    SET_START_TIMESTAMP = 34,
    GET_START_TIMESTAMP = 35,
    SET_STOP_TIMESTAMP = 36,
    GET_STOP_TIMESTAMP = 37,
    SET_FRAME_SIZE = 48,
    GET_FRAME_SIZE = 49,
};

// Every command, for tables and validation.
inline constexpr std::array<Command, 15> ALL_COMMANDS{
    Command::DISABLE_CHANNEL,     Command::ENABLE_CHANNEL,          Command::RESET_CHANNEL,
    Command::GET_BUFFER_SIZE,     Command::DISABLE_STATUS_MESSAGES, Command::ENABLE_STATUS_MESSAGES,
    Command::CLEAR_STATUS_FLAGS,  Command::SET_OFFSET_TIMESTAMP,    Command::GET_OFFSET_TIMESTAMP,
    Command::SET_START_TIMESTAMP, Command::GET_START_TIMESTAMP,     Command::SET_STOP_TIMESTAMP,
    Command::GET_STOP_TIMESTAMP,  Command::SET_FRAME_SIZE,          Command::GET_FRAME_SIZE,
};

constexpr bool isKnownCommand(uint16_t value)
{
    for (Command c : ALL_COMMANDS) {
        if (static_cast<uint16_t>(c) == value)
            return true;
    }
    return false;
}

// Number of payload bytes a request of this command carries (0, 4 or 8).
constexpr size_t commandPayloadLength(Command command)
{
    switch (command) {
    case Command::SET_OFFSET_TIMESTAMP:
    case Command::SET_START_TIMESTAMP:
    case Command::SET_STOP_TIMESTAMP:
        return 8;
    case Command::SET_FRAME_SIZE:
        return 4;
    default:
        return 0;
    }
}

// response_type values with a meaning of their own. Any other value is the
// plain acknowledgement of the request named by response_id; replies to the
// GET_..._TIMESTAMP and GET_FRAME_SIZE requests carry their command value.
inline constexpr uint16_t RESPONSE_PERIODIC_STATUS = 0x00FF;
inline constexpr uint16_t RESPONSE_BUFFER_SIZE = 3;
inline constexpr uint16_t RESPONSE_CHANNEL_NOT_AVAILABLE = 0x8004;

// Status flag bits of a periodic status.
inline constexpr uint16_t STATUS_FLAG_ENABLED = 1u << 0;
inline constexpr uint16_t STATUS_FLAG_LOSS = 1u << 1;
inline constexpr uint16_t STATUS_FLAG_PTP_SYNCED = 1u << 2;
inline constexpr uint16_t STATUS_FLAG_PTP_ACTIVE = 1u << 3;

// Sensor header flag bits.
inline constexpr uint8_t SENSOR_FLAG_RESERVED_MASK = 0x3F;
inline constexpr uint8_t SENSOR_FLAG_END_OF_LINE = 1u << 6;
inline constexpr uint8_t SENSOR_FLAG_END_OF_FRAME = 1u << 7;

// Records ---------------------------------------------------------------------

#pragma pack(push, 1)

struct FrameSizePayload {
    uint16_t width;
    uint16_t height;
};

struct ReplayControlMessage {
    uint8_t MAGIC_BYTES[5];
    uint8_t VERSION;
    uint8_t packet_length;
    uint8_t channel_number;
    uint16_t command;
    uint16_t request_id;
    union Payload {
        uint8_t datatype;
        uint64_t ts;
        FrameSizePayload frameSize;
    } payload;
};

struct StatusPayload {
    uint16_t flags; // STATUS_FLAG_... bits
    uint16_t rx_packet_num;
    uint32_t free_fifo_entries;
    uint64_t currenttime_ns;
};

struct BufferPayload {
    uint32_t total_buffer_size;
    uint32_t total_fifo_entries;
};

struct ReplayStatusMessage {
    uint8_t MAGIC_BYTES[5];
    uint8_t VERSION;
    uint8_t packet_length;
    uint8_t channel;
    uint16_t response_type;
    uint16_t response_id;
    union Payload {
        StatusPayload status;
        BufferPayload buffer;
        uint8_t data_type;
        uint64_t timestamp;
        FrameSizePayload frameSize;
        uint8_t raw[16];
    } payload;
};

struct ReplaySensorMessageHeader {
    uint16_t frameNumber;
    uint16_t lineNumber;
    uint16_t payloadSize;
    uint8_t version;
    uint8_t flags; // SENSOR_FLAG_... bits
    uint16_t packetNumber;
    uint8_t streamID;
    uint8_t reserved2[5];
    uint64_t timestamp;

    bool endOfLine() const { return (flags & SENSOR_FLAG_END_OF_LINE) != 0; }
    bool endOfFrame() const { return (flags & SENSOR_FLAG_END_OF_FRAME) != 0; }
    void setEndMarks(bool endOfLine, bool endOfFrame)
    {
        flags = static_cast<uint8_t>((flags & SENSOR_FLAG_RESERVED_MASK) | (endOfLine ? SENSOR_FLAG_END_OF_LINE : 0) |
                                     (endOfFrame ? SENSOR_FLAG_END_OF_FRAME : 0));
    }
};

#pragma pack(pop)

static_assert(sizeof(FrameSizePayload) == 4);
static_assert(sizeof(ReplayControlMessage) == CONTROL_MESSAGE_SIZE);
static_assert(offsetof(ReplayControlMessage, VERSION) == 5);
static_assert(offsetof(ReplayControlMessage, packet_length) == 6);
static_assert(offsetof(ReplayControlMessage, channel_number) == 7);
static_assert(offsetof(ReplayControlMessage, command) == 8);
static_assert(offsetof(ReplayControlMessage, request_id) == 10);
static_assert(offsetof(ReplayControlMessage, payload) == CONTROL_HEADER_LENGTH);

static_assert(sizeof(StatusPayload) == 16);
static_assert(offsetof(StatusPayload, rx_packet_num) == 2);
static_assert(offsetof(StatusPayload, free_fifo_entries) == 4);
static_assert(offsetof(StatusPayload, currenttime_ns) == 8);
static_assert(offsetof(BufferPayload, total_fifo_entries) == 4);
static_assert(sizeof(ReplayStatusMessage) == STATUS_MESSAGE_SIZE);
static_assert(offsetof(ReplayStatusMessage, VERSION) == 5);
static_assert(offsetof(ReplayStatusMessage, packet_length) == 6);
static_assert(offsetof(ReplayStatusMessage, channel) == 7);
static_assert(offsetof(ReplayStatusMessage, response_type) == 8);
static_assert(offsetof(ReplayStatusMessage, response_id) == 10);
static_assert(offsetof(ReplayStatusMessage, payload) == 12);

static_assert(sizeof(ReplaySensorMessageHeader) == SENSOR_HEADER_SIZE);
static_assert(offsetof(ReplaySensorMessageHeader, lineNumber) == 2);
static_assert(offsetof(ReplaySensorMessageHeader, payloadSize) == 4);
static_assert(offsetof(ReplaySensorMessageHeader, version) == 6);
static_assert(offsetof(ReplaySensorMessageHeader, flags) == 7);
static_assert(offsetof(ReplaySensorMessageHeader, packetNumber) == 8);
static_assert(offsetof(ReplaySensorMessageHeader, streamID) == 10);
static_assert(offsetof(ReplaySensorMessageHeader, reserved2) == 11);
static_assert(offsetof(ReplaySensorMessageHeader, timestamp) == 16);

// Building control and status records ----------------------------------------

// A control request as a client sends it: control magic, protocol version,
// the length of the header plus the command's payload, the channel, command
// and request id, and a zero payload that the caller may fill.
inline ReplayControlMessage makeControlMessage(uint8_t channel, Command command, uint16_t requestId)
{
    ReplayControlMessage message{};
    std::memcpy(message.MAGIC_BYTES, QIR_CONTROL_MAGIC_BYTES.data(), QIR_CONTROL_MAGIC_BYTES.size());
    message.VERSION = QIR_PROTOCOL_VERSION;
    message.packet_length = static_cast<uint8_t>(CONTROL_HEADER_LENGTH + commandPayloadLength(command));
    message.channel_number = channel;
    message.command = static_cast<uint16_t>(command);
    message.request_id = requestId;
    return message;
}

// A status record as a unit sends it: status magic, protocol version, length
// 28, the channel, response type and response id, and a zero payload that the
// caller may fill.
inline ReplayStatusMessage makeStatusMessage(uint8_t channel, uint16_t responseType, uint16_t responseId)
{
    ReplayStatusMessage message{};
    std::memcpy(message.MAGIC_BYTES, QIR_STATUS_MAGIC_BYTES.data(), QIR_STATUS_MAGIC_BYTES.size());
    message.VERSION = QIR_PROTOCOL_VERSION;
    message.packet_length = static_cast<uint8_t>(STATUS_MESSAGE_SIZE);
    message.channel = channel;
    message.response_type = responseType;
    message.response_id = responseId;
    return message;
}

// Acceptance of a status datagram ---------------------------------------------

// True when the received bytes form a status datagram this client reads: at
// least 8 bytes, the status magic, protocol version 3 and a length byte equal
// to the received length. Reads only the bytes given.
constexpr bool isAcceptedStatusHeader(const uint8_t* data, size_t length)
{
    if (data == nullptr || length < STATUS_MIN_ACCEPTED_LENGTH)
        return false;
    for (size_t i = 0; i < QIR_STATUS_MAGIC_BYTES.size(); ++i) {
        if (data[i] != QIR_STATUS_MAGIC_BYTES[i])
            return false;
    }
    return data[5] == QIR_PROTOCOL_VERSION && data[6] == length;
}

// Channel byte of a status datagram that passed isAcceptedStatusHeader.
constexpr uint8_t statusChannelByte(const uint8_t* data)
{
    return data[7];
}

// Copies up to 28 received bytes into a zeroed status record: bytes beyond
// the received length are zero, bytes beyond 28 are ignored.
inline ReplayStatusMessage statusRecordFromDatagram(const uint8_t* data, size_t length)
{
    ReplayStatusMessage message{};
    std::memcpy(&message, data, length < sizeof(message) ? length : sizeof(message));
    return message;
}

} // namespace vxqir
