// Any bytes as the header of a PGM/PPM, PNG or JPEG file: each reader must
// give a geometry within the unit's limits or an ImageHeaderError whose
// offset lies within the bytes (or at their end), and read nothing outside them.
#include "ImageHeaders.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

namespace {

template <typename Read>
void tryReader(Read read, std::span<const uint8_t> bytes)
{
    try {
        const qir::replay::ImageGeometry g = read(bytes);
        if (g.width == 0 || g.height == 0 || g.height > 0xFFFF || g.channels == 0)
            std::abort();
        if (g.pixelOffset > bytes.size())
            std::abort();
    } catch (const qir::replay::ImageHeaderError& error) {
        if (error.offset() > bytes.size())
            std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // A copy of exactly `size` bytes, so that a read past them is seen by the sanitizers.
    auto* copy = static_cast<uint8_t*>(std::malloc(size == 0 ? 1 : size));
    if (copy == nullptr)
        return 0;
    for (size_t i = 0; i < size; ++i)
        copy[i] = data[i];
    const std::span<const uint8_t> bytes(copy, size);
    tryReader(qir::replay::readPnmHeader, bytes);
    tryReader(qir::replay::readPngHeader, bytes);
    tryReader(qir::replay::readJpegHeader, bytes);
    (void)qir::replay::looksLikePnm(bytes);
    (void)qir::replay::looksLikePng(bytes);
    (void)qir::replay::looksLikeJpeg(bytes);
    std::free(copy);
    return 0;
}
