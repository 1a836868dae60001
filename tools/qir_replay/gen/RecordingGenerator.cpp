#include "RecordingGenerator.h"
#include "FormGenerators.h"

#include "GrabberFrameBuilder.h"
#include "OutputFile.h"
#include "image_converter/RawFrameHeader.h"

#include <cmath>
#include <stdexcept>
#include <vector>

namespace qir::gen {

namespace {

vxqir::frames::GrabberFrameSpec grabberSpec(const GenSpec& spec)
{
    vxqir::frames::GrabberFrameSpec g;
    g.wordCount = static_cast<uint16_t>(uint64_t{ spec.width } * spec.bpp / 8);
    g.longPackets = static_cast<uint16_t>(spec.height);
    g.bpp = static_cast<uint8_t>(spec.bpp);
    g.frameStart = spec.shortPackets;
    g.frameEnd = spec.shortPackets;
    g.pattern = spec.pattern;
    return g;
}

uint64_t rawLineBytes(const GenSpec& spec)
{
    return uint64_t{ spec.width } * (spec.rawMono ? 2 : 4);
}

} // namespace

const char* genFormatName(GenFormat format)
{
    switch (format) {
    case GenFormat::Grabber:
        return "grabber";
    case GenFormat::Raw:
        return "raw";
    case GenFormat::Record:
        return "record";
    case GenFormat::Png:
        return "png";
    case GenFormat::Pgm:
        return "pgm";
    case GenFormat::Ppm:
        return "ppm";
    case GenFormat::Jpeg:
        return "jpeg";
    }
    return "unknown";
}

std::string checkGenSpec(const GenSpec& spec)
{
    if (spec.width < 1 || spec.height < 1 || spec.height > 65535)
        return "--width must be 1 or more and --height between 1 and 65535";
    if (spec.frames < 1)
        return "--frames must be 1 or more";
    if (spec.format != GenFormat::Raw && (!(spec.fps > 0) || spec.fps > 1e6))
        return "--fps must be above 0 and at most 1000000";
    if (spec.format == GenFormat::Record || isImageFormat(spec.format))
        return checkFormSpec(spec);
    if (spec.format == GenFormat::Grabber) {
        if (!(spec.fps > 0) || spec.fps > 1e6)
            return "--fps must be above 0 and at most 1000000";
        if (spec.bpp < 1 || spec.bpp > 64)
            return "--bpp must be between 1 and 64";
        if ((uint64_t{ spec.width } * spec.bpp) % 8 != 0)
            return "--width x --bpp must be whole bytes";
        if (uint64_t{ spec.width } * spec.bpp / 8 > 65535 - 16)
            return "lines of --width x --bpp / 8 bytes are too long for one CSI-2 packet";
        if (spec.height + (spec.shortPackets ? 2u : 0u) > 65535)
            return "--height leaves no room for the frame start and end packets";
        const std::string why = vxqir::frames::checkGrabberFrameSpec(grabberSpec(spec));
        if (!why.empty())
            return why;
    } else {
        // Converted lines go to the unit in one datagram each (3 bytes a pixel for YUV).
        if (uint64_t{ spec.width } * (spec.rawMono ? 2 : 3) > 65535)
            return "--width is too wide for the unit's lines";
        if (genFrameBytes(spec) > 0xFFFFFFFFull)
            return "a raw frame of more than 4 GiB";
    }
    return {};
}

uint64_t genFrameBytes(const GenSpec& spec)
{
    if (spec.format == GenFormat::Record || isImageFormat(spec.format))
        return formFrameBytes(spec);
    if (spec.format == GenFormat::Grabber)
        return vxqir::frames::grabberFrameSize(grabberSpec(spec));
    return qir::raw::FrameHeaderSize + rawLineBytes(spec) * spec.height;
}

uint32_t generateRecording(const GenSpec& spec, const std::string& path, const std::function<bool()>& stop)
{
    const std::string why = checkGenSpec(spec);
    if (!why.empty())
        throw std::invalid_argument(why);
    if (spec.format == GenFormat::Record)
        return generateRecordFile(spec, path, stop);
    if (isImageFormat(spec.format))
        return generateImageDirectory(spec, path, stop);
    qir::tools::OutputFile out(path, "recording");
    std::vector<uint8_t> frame(static_cast<size_t>(genFrameBytes(spec)));
    for (uint32_t f = 0; f < spec.frames; ++f) {
        if (stop && stop())
            return f; // the OutputFile removes the unfinished file
        if (spec.format == GenFormat::Grabber) {
            const auto timeNs = spec.startNs + static_cast<uint64_t>(std::llround(f * 1e9 / spec.fps));
            vxqir::frames::writeGrabberFrame(frame, grabberSpec(spec), f, timeNs);
        } else {
            qir::raw::WriteFrameHeader(frame.data(),
                                       { .frameSize = static_cast<uint32_t>(frame.size()),
                                         .bitsPerWord = 16,
                                         .lines = static_cast<uint16_t>(spec.height) });
            const size_t line = static_cast<size_t>(rawLineBytes(spec));
            for (uint32_t l = 0; l < spec.height; ++l)
                vxqir::frames::fillPattern(std::span(frame).subspan(qir::raw::FrameHeaderSize + l * line, line),
                                           spec.pattern, f, l);
        }
        out.write(std::span<const uint8_t>(frame));
    }
    out.commit();
    return spec.frames;
}

} // namespace qir::gen
