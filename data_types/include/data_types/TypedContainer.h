// TypedContainer.h - what every typed container shares: its type header,
// reading a record of its layout, writing it back, and validity.
#pragma once

#include "data_types/BaseContainer.h"
#include "byte_io/ByteReader.h"
#include "data_types/RecordCheck.h"

#include <cstring>
#include <optional>
#include <span>
#include <stdexcept>

namespace qir::data_types {

/// Base of the typed containers: `Derived` (CANContainer, ...) with type
/// header `Header` and channel type `kType`.
///
/// Thread-bound, like BaseContainer.
template <typename Derived, typename Header, ChannelType kType>
class TypedContainer : public BaseContainer {
public:
    using TypeHeader = Header;
    static constexpr ChannelType kChannelType = kType;
    /// Bytes of a record of this class that are not payload.
    static constexpr size_t kRecordOverhead = kBaseHeaderSize + sizeof(Header);

    /// Reads a record of this class's layout (type header at offset 17,
    /// payload after it) from the start of `src`, whatever its type byte
    /// says (is_valid() then tells). Returns nothing when `src` is shorter
    /// than the headers or the record's `length`, or when `length` is not
    /// the headers plus `payload_length`. Without copying, the container
    /// points into `src`.
    static std::optional<Derived> read_data_from(std::span<const uint8_t> src, bool copy_payload)
    {
        if (!check_record_layout(src, kRecordOverhead).ok())
            return std::nullopt;
        ByteReader reader(src);
        const BaseHeader base = reader.read<BaseHeader>();
        const Header header = reader.read<Header>();
        const std::span<const uint8_t> payload = reader.read_bytes(base.payload_length);
        if (reader.overflowed())
            return std::nullopt;
        return Derived(base, header, payload, copy_payload);
    }

    const Header& get_type_header() const noexcept { return type_header_; }

    std::span<uint8_t> copy_data_to(std::span<uint8_t> dst) const override
    {
        return copy_record_to(dst, header_bytes(type_header_));
    }

    bool is_valid() const override { return get_channel_type() == kType; }

protected:
    /// `payload` must hold base.payload_length bytes (std::invalid_argument
    /// otherwise); the record length becomes payload_length + kRecordOverhead.
    TypedContainer(const BaseHeader& base, const Header& header, std::span<const uint8_t> payload, bool copy_payload)
        : BaseContainer(base, payload, copy_payload, kRecordOverhead)
        , type_header_(header)
    { }

    /// Writes the type header alone; throws std::length_error when it does
    /// not fit.
    std::span<uint8_t> copy_type_header_to(std::span<uint8_t> dst) const
    {
        if (dst.size() < sizeof(Header))
            throw std::length_error("type header does not fit the destination");
        std::memcpy(dst.data(), &type_header_, sizeof(Header));
        return dst.subspan(sizeof(Header));
    }

    Header type_header_;
};

} // namespace qir::data_types
