// LINHeader.h - type header of a LIN record (follows the base header).
//
//    0    1     2     3
//   +----+-----+-----+
//   | id | dlc | crc |
//   +----+-----+-----+
#pragma once

#include <cstddef>
#include <cstdint>

namespace qir::data_types {

struct [[gnu::packed]] LINHeader {
    uint8_t id;
    uint8_t dlc;
    uint8_t crc;
};

static_assert(sizeof(LINHeader) == 3);
static_assert(offsetof(LINHeader, id) == 0);
static_assert(offsetof(LINHeader, dlc) == 1);
static_assert(offsetof(LINHeader, crc) == 2);

} // namespace qir::data_types
