// KOVAMipiCsi2Frame.h - the custom sample record that carries one MIPI CSI-2
// frame as a chunk container (MipiCsi2Chunks.h).
//
// A source writes the record into a Structure sample named
// KOVA_MIPI_CSI2_FRAME_TYPE_NAME; the element's data points at the record, and
// the record's `data` points at `dataLength` bytes of chunk container that
// the producer keeps alive for as long as the sample can be read. The unit
// client reads only `dataLength` and `data`; the other fields mirror the
// frame meta data and are kept for producers and other readers.
//
// Record (packed, 39 bytes, host order):
//
//    0        8   9   10       18  19    21    23       27       31      39
//   +--------+---+---+--------+---+-----+-----+--------+--------+-------+
//   | ts     |pf |rcs|imager  |cmp|width|heigh|frameCnt|dataLen | data  |
//   |  (i64) |   |   | (u64)  |   |(u16)|(u16)| (u32)  | (u32)  | (ptr) |
//   +--------+---+---+--------+---+-----+-----+--------+--------+-------+
#pragma once

#include <cstddef>
#include <cstdint>

/// Type name of the custom sample that carries a KOVAMipiCsi2Frame.
inline constexpr const char KOVA_MIPI_CSI2_FRAME_TYPE_NAME[] = "KOVAMipiCsi2Frame";

#pragma pack(push, 1)

struct KOVAMipiCsi2Frame {
    int64_t ts;             ///< time of the frame; packets use the element's timestamp
    uint8_t pixelFormat;    ///< a MIPICSI2::SubType
    uint8_t rawColorScheme; ///< a MIPICSI2::RAWColorScheme
    uint64_t imagerType;    ///< imager identification
    uint8_t compression;    ///< a MIPICSI2::Compression
    uint16_t width;
    uint16_t height;
    uint32_t frameCounter; ///< the recorder's frame counter
    uint32_t dataLength;   ///< bytes of the chunk container at `data`
    uint8_t* data;         ///< the chunk container, borrowed
};

#pragma pack(pop)

static_assert(sizeof(KOVAMipiCsi2Frame) == 39);
static_assert(offsetof(KOVAMipiCsi2Frame, ts) == 0);
static_assert(offsetof(KOVAMipiCsi2Frame, pixelFormat) == 8);
static_assert(offsetof(KOVAMipiCsi2Frame, rawColorScheme) == 9);
static_assert(offsetof(KOVAMipiCsi2Frame, imagerType) == 10);
static_assert(offsetof(KOVAMipiCsi2Frame, compression) == 18);
static_assert(offsetof(KOVAMipiCsi2Frame, width) == 19);
static_assert(offsetof(KOVAMipiCsi2Frame, height) == 21);
static_assert(offsetof(KOVAMipiCsi2Frame, frameCounter) == 23);
static_assert(offsetof(KOVAMipiCsi2Frame, dataLength) == 27);
static_assert(offsetof(KOVAMipiCsi2Frame, data) == 31);
