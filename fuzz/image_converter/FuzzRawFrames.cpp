// Fuzz target: raw frames as they reach the image converter.
//
// The input is [width: 1 byte][height: 1 byte][format: 1 byte] followed by
// the frame (header and pixel data, any length). The image is 1 to 64
// pixels wide and 1 to 16 lines high; the format's low bit picks YUV 4:2:2
// into RGB or mono into GRAY. The frame lies in a buffer of exactly its
// size, so that reading past it is caught. The converted rows must be the
// rows the frame holds whole, every other row zero.

#include "image_converter/RawFrameConversion.h"
#include "image_converter/RawFrameHeader.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

namespace {

void require(bool condition)
{
    if (!condition)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 3)
        return 0;
    const uint32_t width = 1u + data[0] % 64u;
    const uint32_t height = 1u + data[1] % 16u;
    const auto format = (data[2] & 1) ? qir::raw::OutputFormat::Mono16 : qir::raw::OutputFormat::YuyvInRgb24;
    const size_t frameBytes = size - 3;
    const std::unique_ptr<uint8_t[]> frame(new uint8_t[frameBytes == 0 ? 1 : frameBytes]);
    for (size_t i = 0; i < frameBytes; ++i)
        frame[i] = data[3 + i];

    qir::raw::FrameHeader header;
    require(qir::raw::ReadFrameHeader(frame.get(), frameBytes, header) == (frameBytes >= qir::raw::FrameHeaderSize));

    const qir::raw::OutputGeometry g = qir::raw::GeometryOf(format);
    const uint32_t widthStep = (width * static_cast<uint32_t>(g.channels * g.depth) / 8 + 7) / 8 * 8;
    std::vector<uint8_t> image(static_cast<size_t>(widthStep) * height, 0xEE);
    const uint8_t* pixels = frameBytes > qir::raw::FrameHeaderSize ? frame.get() + qir::raw::FrameHeaderSize : nullptr;
    const size_t pixelBytes = pixels ? frameBytes - qir::raw::FrameHeaderSize : 0;
    const uint32_t rows =
        qir::raw::ConvertFrame(format, pixels, pixelBytes, { image.data(), width, height, widthStep });

    const size_t inRow = static_cast<size_t>(width) * g.inputBytesPerPixel;
    require(rows == std::min<size_t>(height, pixelBytes / inRow));
    for (size_t i = static_cast<size_t>(rows) * widthStep; i < image.size(); ++i)
        require(image[i] == 0);
    return 0;
}
