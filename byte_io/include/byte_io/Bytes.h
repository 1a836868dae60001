// Bytes.h - the byte-buffer type of the tree.
#pragma once

#include <cstdint>
#include <vector>

namespace qir {

/// A buffer of bytes that owns them: a datagram, a record, a frame.
using Bytes = std::vector<uint8_t>;

} // namespace qir
