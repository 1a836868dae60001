// Any bytes as a video file: FFmpeg's container readers probe and read them
// from memory (an AVIOContext over the buffer), and the chosen stream's
// frames are decoded and converted. Damage must end in a VideoError, never a
// read outside the buffer or a crash.
#include "VideoDecoder.h"

#include <cstddef>
#include <cstdint>
#include <span>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    qir::video::VideoChoice choice;
    choice.pixels = size % 2 == 0 ? qir::video::VideoPixelFormat::Bgr24 : qir::video::VideoPixelFormat::Gray16le;
    choice.decoderThreads = 1;
    choice.maxPixels = 1 << 20; // no huge pictures from a made-up header
    try {
        qir::video::VideoDecoder decoder(std::span<const uint8_t>(data, size), "fuzz", choice);
        qir::video::DecodedFrame frame;
        for (int n = 0; n < 8 && decoder.next(frame); ++n) { }
    } catch (const qir::video::VideoError&) { }
    return 0;
}
