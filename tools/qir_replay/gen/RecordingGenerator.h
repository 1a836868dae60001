// RecordingGenerator.h - synthetic camera recordings (grabber streams, raw
// frames, record files with Video records, image sequences) for tests,
// demos and trying a unit.
#pragma once

#include "BytePattern.h"

#include <cstdint>
#include <functional>
#include <string>

namespace qir::gen {

enum class GenFormat : uint8_t { Grabber, Raw, Record, Png, Pgm, Ppm, Jpeg };

/// The format's name on the command line ("grabber", "raw", "record", "png", "pgm", "ppm", "jpeg").
const char* genFormatName(GenFormat format);
/// Image sequences are directories of files, the other forms one file.
inline bool isImageFormat(GenFormat format)
{
    return format == GenFormat::Png || format == GenFormat::Pgm || format == GenFormat::Ppm ||
        format == GenFormat::Jpeg;
}

struct GenSpec {
    GenFormat format = GenFormat::Grabber;
    uint32_t width = 640;             ///< pixels per line
    uint32_t height = 480;            ///< lines per frame
    uint32_t bpp = 16;                ///< grabber, record: bits per pixel (8, 10, 12, 14, 16, 24); png: 8 gray, 24 RGB
    bool rawMono = false;             ///< raw: one 16-bit word per pixel instead of two (YUV 4:2:2)
    double fps = 30.0;                ///< spacing of the recorded times (grabber, record, image names)
    uint64_t startNs = 1'000'000'000; ///< time of frame 0
    uint32_t frames = 30;
    vxqir::frames::BytePattern pattern = vxqir::frames::BytePattern::Ramp;
    bool shortPackets = false; ///< grabber: frame start and end packets around the lines
    bool otherRecords = false; ///< record: a CAN record before every Video record
    bool timedNames = true;    ///< images: names carry the frame's time ("frame_000001_001033333us.png")
};

/// Why `spec` cannot be generated, naming the option; empty when it can.
std::string checkGenSpec(const GenSpec& spec);

/// Bytes of one frame of `spec`.
uint64_t genFrameBytes(const GenSpec& spec);

/// Writes `spec`'s frames to `path` through a temporary file (for image
/// sequences: a temporary directory) renamed when complete. `stop` is asked before every frame; when it says true the
/// writing ends, nothing appears at `path`, and the frames written so far
/// are returned (fewer than spec.frames). Returns the frames written. Throws qir::tools::OutputFileError and
/// std::invalid_argument (checkGenSpec's text).
uint32_t generateRecording(const GenSpec& spec, const std::string& path, const std::function<bool()>& stop);

} // namespace qir::gen
