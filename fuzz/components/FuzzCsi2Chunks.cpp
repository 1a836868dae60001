// The chunk-container walk over arbitrary bytes: every chunk it hands out
// lies inside the container, offsets only grow, and the walk ends.
#include "unit_client/csi2/GrabberImageHeader.h"
#include "unit_client/csi2/MipiCsi2Chunks.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace {

void check(bool condition)
{
    if (!condition)
        __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // A copy of exactly `size` bytes, so that any read past it is caught.
    const std::vector<uint8_t> container(data, data + size);
    MIPICSI2::DataChunkIterator walk(container.data(), container.size());
    MIPICSI2::DataChunkDescriptor chunk;
    size_t previousEnd = 0;
    size_t chunks = 0;
    uint64_t sum = 0;
    while (walk.next(chunk)) {
        check(chunk.offset == previousEnd);
        check(chunk.length >= MIPICSI2::CHUNK_HEADER_SIZE);
        check(chunk.offset + chunk.length <= container.size());
        previousEnd = chunk.offset + chunk.length;
        if (chunk.hasBusData()) {
            const uint8_t* payload = chunk.busPayload();
            check(payload >= container.data() + chunk.offset + MIPICSI2::BUS_PAYLOAD_OFFSET);
            check(payload + chunk.busPayloadLength() + MIPICSI2::BUS_DATA_FOOTER_SIZE <=
                  container.data() + previousEnd);
            for (size_t i = 0; i < chunk.busPayloadLength(); ++i)
                sum += payload[i];
        }
        (void)MIPICSI2::typeToString(chunk.type);
        (void)MIPICSI2::subTypeToString(chunk.sub_type);
        check(++chunks <= size / MIPICSI2::CHUNK_HEADER_SIZE);
    }
    check(walk.end() != MIPICSI2::WalkEnd::NotYet);
    check(walk.malformed() || walk.endOffset() >= container.size());
    // The record geometry is defined for every 16-bit length and bpp.
    if (size >= 3) {
        const auto bytes = static_cast<uint16_t>(data[0] | data[1] << 8);
        const uint16_t padding = MIPICSI2::paddingToWholePixels(bytes, data[2]);
        check(data[2] <= 8 ? padding == 0 : padding < data[2]);
    }
    return sum == 0xFFFFFFFFFFFFFFFFull ? 1 : 0;
}
