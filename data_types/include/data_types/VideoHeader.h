// VideoHeader.h - type header of a video record (follows the base header).
//
//    0     1     2     3                 11    12      14      16             20
//   +-----+-----+-----+-----------------+-----+-------+-------+--------------+
//   |async|pixfm|rawcs| imager_type (8) |compr| width | height| frame_counter|
//   +-----+-----+-----+-----------------+-----+-------+-------+--------------+
//
// imager_type is eight characters, not necessarily terminated.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace qir::data_types {

struct [[gnu::packed]] VideoHeader {
    uint8_t asynchronous;
    uint8_t pixel_format;
    uint8_t raw_color_scheme;
    std::array<char, 8> imager_type;
    uint8_t compression;
    uint16_t width;
    uint16_t height;
    uint32_t frame_counter;
};

static_assert(sizeof(VideoHeader) == 20);
static_assert(offsetof(VideoHeader, asynchronous) == 0);
static_assert(offsetof(VideoHeader, pixel_format) == 1);
static_assert(offsetof(VideoHeader, raw_color_scheme) == 2);
static_assert(offsetof(VideoHeader, imager_type) == 3);
static_assert(offsetof(VideoHeader, compression) == 11);
static_assert(offsetof(VideoHeader, width) == 12);
static_assert(offsetof(VideoHeader, height) == 14);
static_assert(offsetof(VideoHeader, frame_counter) == 16);

} // namespace qir::data_types
