// CANFrameHeader.h - descriptor written before a CAN payload in the replay-data
// form (what a replay device takes for one CAN frame).
//
//    0              4       5
//   +--------------+-------+-------- - -
//   | id (u32, LE) | flags | payload
//   +--------------+-------+-------- - -
//   flags: bit 0 ide, bit 1 brs, bit 2 edl, bits 3-7 zero
#pragma once

#include <cstddef>
#include <cstdint>

namespace qir::data_types {

struct [[gnu::packed]] CANFrameHeader {
    uint32_t id;
    uint8_t flags;
};

inline constexpr uint8_t kCanFlagIde = 0x01;
inline constexpr uint8_t kCanFlagBrs = 0x02;
inline constexpr uint8_t kCanFlagEdl = 0x04;

static_assert(sizeof(CANFrameHeader) == 5);
static_assert(offsetof(CANFrameHeader, id) == 0);
static_assert(offsetof(CANFrameHeader, flags) == 4);

} // namespace qir::data_types
