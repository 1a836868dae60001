// LidarHeader.h - type header of a lidar record (follows the base header).
//
//    0       1       2              6
//   +-------+-------+--------------+
//   | async | compr | length (u32) |
//   +-------+-------+--------------+
//
// `length` is the sensor's own length field; the record's sizes are in the
// base header.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qir::data_types {

struct [[gnu::packed]] LidarHeader {
    uint8_t asynchronous;
    uint8_t compression;
    uint32_t length;
};

static_assert(sizeof(LidarHeader) == 6);
static_assert(offsetof(LidarHeader, asynchronous) == 0);
static_assert(offsetof(LidarHeader, compression) == 1);
static_assert(offsetof(LidarHeader, length) == 2);

} // namespace qir::data_types
