// BaseHeader.h - the header that starts every serialized record.
//
// A record is this base header, then the header of its channel type, then
// payload_length payload bytes. All records are packed and store integers
// little-endian (host order on the platforms we build for).
//
//    0                       8    9              13             17
//   +-----------------------+----+--------------+--------------+------
//   | timestamp (i64, us)   |type| length (u32) | payload_len  | type header, payload
//   +-----------------------+----+--------------+--------------+------
//
// `length` counts the whole record: 17 + the type header + the payload.
#pragma once

#include "data_types/ChannelType.h"

#include <bit>
#include <cstddef>
#include <cstdint>

namespace qir::data_types {

static_assert(std::endian::native == std::endian::little, "records are stored in host order and must be little-endian");

struct [[gnu::packed]] BaseHeader {
    int64_t timestamp;       ///< time of the frame in microseconds
    ChannelType type;        ///< which type header follows
    uint32_t length;         ///< bytes of the whole record
    uint32_t payload_length; ///< bytes of payload after the type header
};

inline constexpr size_t kBaseHeaderSize = 17;

static_assert(sizeof(BaseHeader) == kBaseHeaderSize);
static_assert(offsetof(BaseHeader, timestamp) == 0);
static_assert(offsetof(BaseHeader, type) == 8);
static_assert(offsetof(BaseHeader, length) == 9);
static_assert(offsetof(BaseHeader, payload_length) == 13);

} // namespace qir::data_types
