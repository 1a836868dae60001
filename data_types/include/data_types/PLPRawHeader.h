// PLPRawHeader.h - type header of a raw PLP record (follows the base header).
//
//    0          2          4             6            8             10
//   +----------+----------+-------------+------------+-------------+
//   | probe_id | msg_type | probe_flags | data_flags | data_length |
//   +----------+----------+-------------+------------+-------------+
#pragma once

#include <cstddef>
#include <cstdint>

namespace qir::data_types {

struct [[gnu::packed]] PLPRawHeader {
    uint16_t probe_id;
    uint16_t msg_type;
    uint16_t probe_flags;
    uint16_t data_flags;
    uint16_t data_length;
};

static_assert(sizeof(PLPRawHeader) == 10);
static_assert(offsetof(PLPRawHeader, probe_id) == 0);
static_assert(offsetof(PLPRawHeader, msg_type) == 2);
static_assert(offsetof(PLPRawHeader, probe_flags) == 4);
static_assert(offsetof(PLPRawHeader, data_flags) == 6);
static_assert(offsetof(PLPRawHeader, data_length) == 8);

} // namespace qir::data_types
