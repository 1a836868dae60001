#include "data_types/RecordCheck.h"

#include "byte_io/ByteReader.h"
#include "data_types/RecordLayout.h"

#include <string>

namespace qir::data_types {

RecordCheck check_record_layout(std::span<const uint8_t> bytes, size_t overhead) noexcept
{
    RecordCheck check;
    check.available = bytes.size();
    check.overhead = overhead;
    ByteReader reader(bytes);
    check.header = reader.read<BaseHeader>();
    if (reader.overflowed()) {
        check.fault = RecordFault::TruncatedBaseHeader;
        return check;
    }
    // The sum is 64-bit: payload_length may be close to 2^32.
    const uint64_t expected = uint64_t{ check.header.payload_length } + overhead;
    if (check.header.length < overhead)
        check.fault = RecordFault::LengthBelowHeaders;
    else if (check.header.length != expected)
        check.fault = RecordFault::LengthDisagrees;
    else if (check.header.length > bytes.size())
        check.fault = RecordFault::LengthBeyondData;
    return check;
}

RecordCheck check_record(std::span<const uint8_t> bytes) noexcept
{
    ByteReader reader(bytes);
    const BaseHeader header = reader.read<BaseHeader>();
    if (reader.overflowed())
        return check_record_layout(bytes, kBaseHeaderSize);
    const std::optional<size_t> overhead = record_overhead(header.type);
    if (!overhead) {
        RecordCheck check;
        check.fault = RecordFault::UnknownType;
        check.header = header;
        check.overhead = kBaseHeaderSize;
        check.available = bytes.size();
        return check;
    }
    return check_record_layout(bytes, *overhead);
}

std::string RecordCheck::describe() const
{
    const std::string type = std::string(channel_type_name(header.type));
    switch (fault) {
    case RecordFault::None:
        return {};
    case RecordFault::TruncatedBaseHeader:
        return "only " + std::to_string(available) + " bytes remain, fewer than the " +
            std::to_string(kBaseHeaderSize) + "-byte base header";
    case RecordFault::UnknownType:
        return "type byte " + std::to_string(static_cast<unsigned>(header.type)) + " names no channel type";
    case RecordFault::LengthBelowHeaders:
        return "length " + std::to_string(header.length) + " is below the " + std::to_string(overhead) +
            " header bytes of a " + type + " record";
    case RecordFault::LengthDisagrees:
        return "length " + std::to_string(header.length) + " disagrees with payload_length " +
            std::to_string(header.payload_length) + " and the " + std::to_string(overhead) + " header bytes of a " +
            type + " record";
    case RecordFault::LengthBeyondData:
        return "truncated " + type + " record: length " + std::to_string(header.length) + " but only " +
            std::to_string(available) + " bytes remain";
    }
    return "unknown fault";
}

} // namespace qir::data_types
