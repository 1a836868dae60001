#include "data_types/SOMEIPMessage.h"

#include "byte_io/ByteReader.h"
#include "data_types/ContainerError.h"
#include "data_types/SomeIpWireLayout.h"

#include <string>

namespace qir::data_types {

namespace {

[[noreturn]] void refuse(size_t offset, const std::string& reason)
{
    throw ContainerError(kErrorBadSomeIp, "message at offset " + std::to_string(offset) + ": " + reason);
}

/// Reads the message at `offset` (at least 16 bytes remain there) and returns
/// the offset of the next one.
size_t read_message(std::span<const uint8_t> buffer, size_t offset, SOMEIPHeader& header,
                    std::span<const uint8_t>& payload)
{
    ByteReader reader(buffer.subspan(offset));
    header = SOMEIPHeader{};
    header.service_id = reader.read_be16();
    const uint16_t method = reader.read_be16();
    header.is_event = (method & someip::kEventBit) != 0;
    header.method_id = method;
    header.length = reader.read_be32();
    header.client_id = reader.read_be16();
    header.session_id = reader.read_be16();
    header.protocol_version = reader.read_u8();
    header.interface_version = reader.read_u8();
    header.message_type = reader.read_u8();
    header.return_code = reader.read_u8();

    if (header.protocol_version != someip::kProtocolVersion)
        refuse(offset, "protocol version " + std::to_string(header.protocol_version) + " is not 1");
    if (header.interface_version < someip::kLowestInterfaceVersion ||
        header.interface_version > someip::kHighestInterfaceVersion)
        refuse(offset, "interface version " + std::to_string(header.interface_version) + " is not 1 or 2");

    const bool segment = (header.message_type & someip::kSegmentFlag) != 0;
    const uint32_t minimum = segment ? someip::kMinimumSegmentLength : someip::kMinimumLength;
    if (header.length < minimum) {
        refuse(offset,
               "length " + std::to_string(header.length) + " is below the " + std::to_string(minimum) +
                   " bytes of its header");
    }
    // 64-bit: offset + length + 8 may exceed 32 bits.
    const uint64_t next = uint64_t{ offset } + header.length + someip::kUncountedSize;
    if (next > buffer.size()) {
        refuse(offset,
               "length " + std::to_string(header.length) + " runs past the " + std::to_string(buffer.size()) +
                   "-byte buffer");
    }

    if (segment) {
        const uint32_t word = reader.read_be32();
        header.offset_field = word >> someip::kSegmentOffsetShift;
        header.resm = static_cast<uint8_t>(word & someip::kSegmentResmMask);
        payload = reader.read_bytes(header.length - someip::kMinimumSegmentLength);
    } else {
        payload = reader.read_bytes(header.length - someip::kMinimumLength);
    }
    return static_cast<size_t>(next);
}

} // namespace

void SOMEIPMessage::visit_someip_messages(
    std::span<const uint8_t> buffer, const std::function<void(const SOMEIPHeader&, std::span<const uint8_t>)>& visit)
{
    if (buffer.size() < someip::kHeaderSize)
        return;
    size_t offset = 0;
    for (;;) {
        SOMEIPHeader header;
        std::span<const uint8_t> payload;
        const size_t next = read_message(buffer, offset, header, payload);
        visit(header, payload);
        if (next == buffer.size() || buffer.size() - next < someip::kHeaderSize)
            return;
        offset = next;
    }
}

std::vector<SOMEIPMessage> SOMEIPMessage::read_someip_messages(std::span<const uint8_t> buffer, int64_t timestamp)
{
    std::vector<SOMEIPMessage> messages;
    visit_someip_messages(buffer, [&](const SOMEIPHeader& message_header, std::span<const uint8_t> message_payload) {
        messages.push_back(
            SOMEIPMessage{ message_header, { message_payload.begin(), message_payload.end() }, timestamp });
    });
    return messages;
}

} // namespace qir::data_types
