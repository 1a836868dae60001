// FlexrayHeader.h - type header of a FlexRay record (follows the base header).
//
//    0   1   2   3   4   5        7          9    10   11          15
//   +---+---+---+---+---+--------+----------+----+----+-----------+
//   |rsv|ppi|nul|syn|stu| id u16 |hdr crc16 |cyc |chan| crc (u32) |
//   +---+---+---+---+---+--------+----------+----+----+-----------+
//
// The first five bytes are boolean flags (0 false, other values true):
// reserved bit, payload preamble, null frame, sync frame, startup frame.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qir::data_types {

struct [[gnu::packed]] FlexrayHeader {
    uint8_t reserved_bit_flag;
    uint8_t payload_preamble_flag;
    uint8_t null_frame_flag;
    uint8_t sync_frame_flag;
    uint8_t startup_frame_flag;
    uint16_t id;
    uint16_t header_crc;
    uint8_t cycle;
    uint8_t flx_channel;
    uint32_t crc;
};

static_assert(sizeof(FlexrayHeader) == 15);
static_assert(offsetof(FlexrayHeader, reserved_bit_flag) == 0);
static_assert(offsetof(FlexrayHeader, payload_preamble_flag) == 1);
static_assert(offsetof(FlexrayHeader, null_frame_flag) == 2);
static_assert(offsetof(FlexrayHeader, sync_frame_flag) == 3);
static_assert(offsetof(FlexrayHeader, startup_frame_flag) == 4);
static_assert(offsetof(FlexrayHeader, id) == 5);
static_assert(offsetof(FlexrayHeader, header_crc) == 7);
static_assert(offsetof(FlexrayHeader, cycle) == 9);
static_assert(offsetof(FlexrayHeader, flx_channel) == 10);
static_assert(offsetof(FlexrayHeader, crc) == 11);

} // namespace qir::data_types
