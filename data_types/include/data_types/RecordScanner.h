// RecordScanner.h - walks a buffer that holds records one after the other
// (a recording file read into memory).
#pragma once

#include "data_types/BaseHeader.h"
#include "data_types/RecordCheck.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace qir::data_types {

/// Hands out the records of a buffer in order, without copying.
///
/// A record of a type byte that names no channel type is still handed out
/// (with fault UnknownType) when its `length` covers at least the base
/// header and lies within the buffer, so that a reader can skip it. The walk
/// stops at the first record that cannot be delimited: a base header cut
/// short, a `length` below its headers, disagreeing with `payload_length`,
/// or running past the end. fault() then tells where and why; everything
/// before it was handed out. Thread-bound.
class RecordScanner {
public:
    struct Record {
        uint64_t offset;                ///< byte offset of the record in the buffer
        std::span<const uint8_t> bytes; ///< the whole record (`length` bytes)
        BaseHeader header;
        RecordFault fault; ///< None or UnknownType
    };

    struct Fault {
        uint64_t offset;   ///< where the faulty record starts
        RecordCheck check; ///< what is wrong with it
    };

    /// Walks `buffer`, which must outlive the scanner.
    explicit RecordScanner(std::span<const uint8_t> buffer) noexcept : buffer_(buffer) { }

    /// The next record, or nothing at the end of the buffer or at a fault.
    std::optional<Record> next() noexcept;

    /// The fault that ended the walk, if one did.
    const std::optional<Fault>& fault() const noexcept { return fault_; }

    /// Offset of the next record to read (the buffer's size at the end).
    uint64_t offset() const noexcept { return offset_; }

private:
    std::span<const uint8_t> buffer_;
    size_t offset_ = 0;
    std::optional<Fault> fault_;
};

} // namespace qir::data_types
