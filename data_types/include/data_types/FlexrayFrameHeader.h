// FlexrayFrameHeader.h - descriptor written before a FlexRay payload in the
// replay-data form.
//
//    0              2       3            4             5
//   +--------------+-------+------------+-------------+-------- - -
//   | id (u16, LE) | flags | cycleCount | flx_channel | payload
//   +--------------+-------+------------+-------------+-------- - -
//   flags: bit 0 reserved bit, bit 1 payload preamble, bit 2 null frame,
//          bit 3 sync frame, bit 4 startup frame, bits 5-7 zero
#pragma once

#include <cstddef>
#include <cstdint>

namespace qir::data_types {

struct [[gnu::packed]] FlexrayFrameHeader {
    uint16_t id;
    uint8_t flags;
    uint8_t cycleCount;
    uint8_t flx_channel;
};

inline constexpr uint8_t kFlexrayFlagReservedBit = 0x01;
inline constexpr uint8_t kFlexrayFlagPayloadPreamble = 0x02;
inline constexpr uint8_t kFlexrayFlagNullFrame = 0x04;
inline constexpr uint8_t kFlexrayFlagSyncFrame = 0x08;
inline constexpr uint8_t kFlexrayFlagStartupFrame = 0x10;

static_assert(sizeof(FlexrayFrameHeader) == 5);
static_assert(offsetof(FlexrayFrameHeader, id) == 0);
static_assert(offsetof(FlexrayFrameHeader, flags) == 2);
static_assert(offsetof(FlexrayFrameHeader, cycleCount) == 3);
static_assert(offsetof(FlexrayFrameHeader, flx_channel) == 4);

} // namespace qir::data_types
