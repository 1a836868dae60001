#include "SensorDatagram.h"

#include "byte_io/ByteReader.h"

#include <algorithm>

namespace vxqir::sim {

std::string_view datagramFaultName(DatagramFault fault)
{
    switch (fault) {
    case DatagramFault::None:
        return "none";
    case DatagramFault::TooShort:
        return "too_short";
    case DatagramFault::Truncated:
        return "truncated";
    case DatagramFault::BadVersion:
        return "bad_version";
    case DatagramFault::ReservedBits:
        return "reserved_bits";
    case DatagramFault::SizeMismatch:
        return "size_mismatch";
    }
    return "unknown";
}

ParsedDatagram parseSensorDatagram(std::span<const uint8_t> bytes, size_t receivedLength)
{
    ParsedDatagram out;
    if (receivedLength > bytes.size()) {
        out.fault = DatagramFault::Truncated;
        return out;
    }
    qir::ByteReader reader(bytes);
    const auto header = reader.read<ReplaySensorMessageHeader>();
    if (reader.overflowed()) {
        out.fault = DatagramFault::TooShort;
        return out;
    }
    if (header.version != QIR_PROTOCOL_VERSION) {
        out.fault = DatagramFault::BadVersion;
        return out;
    }
    const bool reservedClear = (header.flags & SENSOR_FLAG_RESERVED_MASK) == 0 &&
        std::all_of(std::begin(header.reserved2), std::end(header.reserved2), [](uint8_t b) { return b == 0; });
    if (!reservedClear) {
        out.fault = DatagramFault::ReservedBits;
        return out;
    }
    if (header.payloadSize != reader.remaining()) {
        out.fault = DatagramFault::SizeMismatch;
        return out;
    }
    out.datagram.header = header;
    out.datagram.payload = reader.rest();
    return out;
}

} // namespace vxqir::sim
