// LINFrameHeader.h - descriptor written before a LIN payload in the
// replay-data form: the frame identifier byte alone.
//
//    0    1
//   +----+-------- - -
//   | id | payload
//   +----+-------- - -
#pragma once

#include <cstddef>
#include <cstdint>

namespace qir::data_types {

struct [[gnu::packed]] LINFrameHeader {
    uint8_t id;
};

static_assert(sizeof(LINFrameHeader) == 1);
static_assert(offsetof(LINFrameHeader, id) == 0);

} // namespace qir::data_types
