// Image geometry declarations: an IPL header without pixel memory.
#pragma once

#include "abi/IplImage.h"

#include <cstdint>

namespace KOVA {

/// Returns a filled IPL header for `width` x `height` pixels with the
/// channel sequence `channelSequence` (up to four letters, any case:
/// "BGR", "BGRA", "GRAY", "G", "RGB", ...), `dataOrder` (0 pixel, 1 planar),
/// `depth` bits per channel and rows aligned to `align` bytes. No pixel
/// memory: imageData and the other pointers are null.
///
/// Rows: widthStep = ceil(ceil(width x depth x channels / 8) / align) x align
/// for pixel order (without the channel factor for planar order, which
/// multiplies imageSize instead); imageSize = height x widthStep.
/// An alignment below 1 counts as 1. A geometry whose sizes do not fit a
/// signed 32-bit number gets widthStep and imageSize -1, which the output
/// buffer allocation refuses. Thread-safe.
::IplImage IplImageModel(int32_t width, int32_t height, const char* channelSequence, int32_t dataOrder, int32_t depth,
                         int32_t align);

} // namespace KOVA
