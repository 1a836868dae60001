// RecordCheck.h - whether the bytes at hand hold one whole, consistent record.
#pragma once

#include "data_types/BaseHeader.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace qir::data_types {

/// Why bytes do not hold a usable record.
enum class RecordFault : uint8_t {
    None,                ///< a whole record of a known type
    TruncatedBaseHeader, ///< fewer bytes than the 17-byte base header
    UnknownType,         ///< the type byte names no channel type
    LengthBelowHeaders,  ///< `length` is shorter than the record's headers
    LengthDisagrees,     ///< `length` is not the headers plus `payload_length`
    LengthBeyondData,    ///< `length` runs past the bytes at hand (truncated)
};

/// Outcome of checking one record.
struct RecordCheck {
    RecordFault fault = RecordFault::None;
    BaseHeader header{};  ///< valid unless fault is TruncatedBaseHeader
    size_t overhead = 0;  ///< headers' size used for the check
    size_t available = 0; ///< bytes that were at hand

    bool ok() const noexcept { return fault == RecordFault::None; }

    /// One sentence on what is wrong, naming the values involved
    /// ("length 40 disagrees with payload_length 8 and the 27 header bytes");
    /// empty when the record is whole.
    std::string describe() const;
};

/// Checks the record at the start of `bytes` against the layout of the type
/// that its base header names. `bytes` may go on past the record (a file
/// holds many). Reads nothing outside `bytes`.
RecordCheck check_record(std::span<const uint8_t> bytes) noexcept;

/// As check_record, but against a given overhead (base plus type header
/// size) whatever the type byte says; used by a container class reading a
/// record of its own layout.
RecordCheck check_record_layout(std::span<const uint8_t> bytes, size_t overhead) noexcept;

} // namespace qir::data_types
