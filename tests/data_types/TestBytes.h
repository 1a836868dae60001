// TestBytes.h - writing record bytes by hand in tests, independently of the
// library's own serialization.
#pragma once

#include "byte_io/Bytes.h"

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string_view>
#include <vector>

namespace qir::data_types::test {

using qir::Bytes;

/// Bytes from hex text; spaces are ignored ("01 02 0a").
inline Bytes hex(std::string_view text)
{
    Bytes bytes;
    int high = -1;
    for (char c : text) {
        int nibble;
        if (c >= '0' && c <= '9')
            nibble = c - '0';
        else if (c >= 'a' && c <= 'f')
            nibble = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            nibble = c - 'A' + 10;
        else if (c == ' ' || c == '\n')
            continue;
        else
            throw std::invalid_argument("bad hex character");
        if (high < 0) {
            high = nibble;
        } else {
            bytes.push_back(static_cast<uint8_t>(high << 4 | nibble));
            high = -1;
        }
    }
    if (high >= 0)
        throw std::invalid_argument("odd number of hex digits");
    return bytes;
}

/// `value` as `size` little-endian bytes.
inline Bytes le(uint64_t value, size_t size)
{
    Bytes bytes;
    for (size_t i = 0; i < size; ++i)
        bytes.push_back(static_cast<uint8_t>(value >> (8 * i)));
    return bytes;
}

inline Bytes cat(std::initializer_list<Bytes> parts)
{
    Bytes all;
    for (const Bytes& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

/// A record: base header (length and payload_length computed unless
/// overridden), then `type_header`, then `payload`.
inline Bytes raw_record(int64_t timestamp, uint8_t type, const Bytes& type_header, const Bytes& payload,
                        std::optional<uint32_t> length = std::nullopt,
                        std::optional<uint32_t> payload_length = std::nullopt)
{
    const uint32_t total = static_cast<uint32_t>(17 + type_header.size() + payload.size());
    return cat({ le(static_cast<uint64_t>(timestamp), 8), Bytes{ type }, le(length.value_or(total), 4),
                 le(payload_length.value_or(static_cast<uint32_t>(payload.size())), 4), type_header, payload });
}

} // namespace qir::data_types::test
