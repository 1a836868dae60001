// One node of the sample FIFO's list: an I/O element with its bookkeeping.
#pragma once

#include "abi/KOVAIOElt.h"

#include <cstdint>

/// Guarded by the owning KOVAFastIO's mutex.
struct KOVAFastIOElt {
    static constexpr int32_t Published = 0; ///< published and free to read
    static constexpr int32_t Writing = 1;   ///< being written
    static constexpr int32_t Reading = 2;   ///< held by at least one reader
    static constexpr int32_t Withheld = 3;  ///< written but not published (also never written)

    int32_t state = Withheld;
    uint32_t readingMask = 0;       ///< one bit per reader that holds the element now
    uint32_t readMask = 0;          ///< one bit per reader that consumed it since its publication
    KOVAFastIOElt* newer = nullptr; ///< towards the head (newest)
    KOVAFastIOElt* older = nullptr; ///< towards the tail (oldest)
    KOVAIOElt* element = nullptr;   ///< not owned

    bool IsReadable() const { return state == Published || state == Reading; }
};
