// CANHeader.h - type header of a CAN record (follows the base header).
//
//    0              4     5     6     7     8          10
//   +--------------+-----+-----+-----+-----+----------+
//   | id (u32)     | ide | dlc | edl | brs | crc (u16)|
//   +--------------+-----+-----+-----+-----+----------+
//
// ide (extended identifier), edl (CAN FD frame) and brs (bit-rate switch)
// are boolean bytes: 0 is false, any other value true. They are kept as
// bytes so that a record is reproduced byte for byte.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qir::data_types {

struct [[gnu::packed]] CANHeader {
    uint32_t id;
    uint8_t ide;
    uint8_t dlc;
    uint8_t edl;
    uint8_t brs;
    uint16_t crc;
};

static_assert(sizeof(CANHeader) == 10);
static_assert(offsetof(CANHeader, id) == 0);
static_assert(offsetof(CANHeader, ide) == 4);
static_assert(offsetof(CANHeader, dlc) == 5);
static_assert(offsetof(CANHeader, edl) == 6);
static_assert(offsetof(CANHeader, brs) == 7);
static_assert(offsetof(CANHeader, crc) == 8);

} // namespace qir::data_types
