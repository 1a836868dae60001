#include "CheckCommand.h"

#include "EmulatorConfig.h"
#include "VideoCheck.h"
#include "unit_client/csi2/MipiCsi2Chunks.h"

#include <cinttypes>

namespace qir::replay {

namespace {

/// Bytes the unit receives per frame: lines of the sent width.
uint64_t sentBytesPerFrame(const Recording& recording)
{
    const SendShape shape = recording.sendShape();
    return uint64_t{ shape.width } * shape.height;
}

/// Where frame `index` lies, for a reader to find it.
std::string placeOf(const Recording& recording, size_t index)
{
    if (recording.format() == RecordingFormat::Images || recording.format() == RecordingFormat::Jpeg)
        return recording.imageInfo()[index].name;
    return "byte " + std::to_string(recording.frames()[index].offset);
}

const char* kindName(ImageKind kind)
{
    switch (kind) {
    case ImageKind::Pgm:
        return "PGM";
    case ImageKind::Ppm:
        return "PPM";
    case ImageKind::Png:
        return "PNG";
    case ImageKind::Jpeg:
        return "JPEG";
    }
    return "?";
}

/// Geometry and chunk checks of a record file's Video records; true when doubtful.
bool checkVideoRecords(const Recording& recording, std::FILE* out)
{
    const auto& info = recording.videoInfo();
    const VideoFrameInfo& first = info.front();
    uint64_t ecc = 0, crc = 0, wordCounts = 0, changed = 0;
    for (const VideoFrameInfo& frame : info) {
        ecc += frame.eccErrors;
        crc += frame.checksumErrors;
        wordCounts += frame.lengthChanges + frame.shortDataChunks;
        if (frame.dataChunks != first.dataChunks || frame.payloadBytes != first.payloadBytes ||
            frame.header.width != first.header.width || frame.header.height != first.header.height ||
            frame.header.pixel_format != first.header.pixel_format)
            ++changed;
    }
    std::fprintf(out, "  geometry: %u x %u pixels, pixel format %s (0x%02X); %u data chunks of %u bytes per frame\n",
                 first.header.width, first.header.height,
                 MIPICSI2::subTypeToString(static_cast<MIPICSI2::SubType>(first.header.pixel_format)),
                 first.header.pixel_format, first.dataChunks, first.payloadBytes);
    if (recording.skippedRecords() > 0)
        std::fprintf(out, "  records: %" PRIu64 " records of other types than Video skipped\n",
                     recording.skippedRecords());
    bool doubtful = false;
    if (changed > 0) {
        doubtful = true;
        std::fprintf(out,
                     "  geometry: %" PRIu64 " frames differ from the first frame (the unit takes the first frame's "
                     "lines; the others arrive incomplete)\n",
                     changed);
    }
    std::fprintf(out,
                 "  CSI-2: %" PRIu64 " header ECC errors, %" PRIu64 " payload checksum errors (flagged by the "
                 "recorder), %" PRIu64 " data chunks whose word count differs from the first\n",
                 ecc, crc, wordCounts);
    return doubtful;
}

} // namespace

int runCheck(const ReplayOptions& options, std::FILE* out, std::FILE* err)
{
    int worst = 0;
    for (const std::string& path : options.recordings) {
        std::optional<Recording> opened;
        try {
            opened.emplace(
                Recording::open(path, options.format, options.rawPixels, options.keepGoing, {}, options.video));
        } catch (const RecordingError& error) {
            std::fprintf(err, "qir-replay: %s\n", error.what());
            worst = 2;
            continue;
        }
        const Recording& recording = *opened;
        // What the replay would refuse, check refuses too.
        if (const auto refusal = replayRefusal(options, recording)) {
            std::fprintf(err, "qir-replay: %s\n", refusal->c_str());
            worst = 2;
            continue;
        }
        const auto& frames = recording.frames();
        std::fprintf(out, "%s: %s, %zu frames, %" PRIu64 " bytes\n", path.c_str(),
                     std::string(formatName(recording.format())).c_str(), frames.size(), recording.totalBytes());
        bool doubtful = false;

        // Times: recorded (grabber) or from the frame rate.
        const bool raw = recording.format() == RecordingFormat::Raw;
        const double fps = options.fps > 0 ? options.fps : !recording.carriesTimes() ? kDefaultRawFps : 0.0;
        double seconds = 0.0;
        if (fps > 0) {
            seconds = static_cast<double>(frames.size()) / fps;
            std::fprintf(out, "  times: from %.3f frames per second, %.3f s\n", fps, seconds);
        } else {
            size_t notIncreasing = 0;
            size_t firstBad = 0;
            for (size_t i = 1; i < frames.size(); ++i) {
                if (frames[i].timeUs <= frames[i - 1].timeUs && notIncreasing++ == 0)
                    firstBad = i;
            }
            const uint64_t span = frames.back().timeUs - std::min(frames.back().timeUs, frames.front().timeUs);
            seconds = frames.size() > 1 ? static_cast<double>(span) / 1e6 * static_cast<double>(frames.size()) /
                    static_cast<double>(frames.size() - 1)
                                        : 0.0;
            const bool named =
                recording.format() == RecordingFormat::Images || recording.format() == RecordingFormat::Jpeg;
            std::fprintf(out, "  times: %s, %.3f s from %" PRIu64 " us\n", named ? "from the file names" : "recorded",
                         seconds, frames.front().timeUs);
            if (notIncreasing > 0) {
                doubtful = true;
                std::fprintf(out,
                             "  times: %zu frames do not come after the frame before them (first: frame %zu at "
                             "%s); --fps gives times from a frame rate\n",
                             notIncreasing, firstBad, placeOf(recording, firstBad).c_str());
            }
        }

        // Geometry and CSI-2 records.
        if (!recording.damage().empty()) {
            doubtful = true;
            std::fprintf(out, "  damage: %s; the %zu whole frames before it replay with --keep-going\n",
                         recording.damage().c_str(), frames.size());
        }
        if (recording.format() == RecordingFormat::Record) {
            doubtful = checkVideoRecords(recording, out) || doubtful;
        } else if (recording.format() == RecordingFormat::Images || recording.format() == RecordingFormat::Jpeg) {
            const ImageInfo& first = recording.imageInfo().front();
            const bool jpeg = recording.format() == RecordingFormat::Jpeg;
            std::fprintf(out, "  geometry: %u x %u pixels, %s, %s files, every image the same\n", recording.width(),
                         recording.height(),
                         jpeg ? (recording.channels() == 1 ? "one component" : "several components")
                             : recording.channels() == 1 ? "gray"
                                                         : "RGB",
                         kindName(first.kind));
            if (recording.format() == RecordingFormat::Jpeg)
                std::fprintf(out, "  coded: each image goes out as %u packets of %u bytes (its bytes, then zeros)\n",
                             recording.height(), recording.codedPacketBytes());
            if (recording.skippedFiles() > 0)
                std::fprintf(out, "  files: %" PRIu64 " files of the directory are no images and were skipped\n",
                             recording.skippedFiles());
        } else if (recording.format() == RecordingFormat::Video) {
            printVideoCheck(recording, out);
        } else if (raw) {
            std::fprintf(out, "  geometry: %u x %u pixels, %s, every frame the same\n", recording.width(),
                         recording.height(),
                         recording.rawPixels() == RawPixelFormat::Mono ? "mono 16-bit" : "YUV 4:2:2");
        } else {
            uint64_t ecc = 0, crc = 0, changed = 0, shorts = 0, otherLength = 0;
            const auto& info = recording.grabberInfo();
            size_t firstOther = 0;
            for (size_t i = 0; i < info.size(); ++i) {
                if (info[i].otherLengthBytes != 0 && otherLength++ == 0)
                    firstOther = i;
            }
            if (otherLength > 0 && !options.keepGoing) {
                // The unit client does not send such frames: a replay of
                // this recording would not be the recording.
                std::fprintf(err,
                             "qir-replay: %s: frame %zu at byte %" PRIu64 ": a long packet of %u bytes, not the %u "
                             "bytes of the recording's packets; the unit client does not send such frames "
                             "(%" PRIu64 " of them; --keep-going checks on)\n",
                             path.c_str(), firstOther, info[firstOther].otherLengthOffset,
                             info[firstOther].otherLengthBytes, recording.width(), otherLength);
                worst = 2;
                continue;
            }
            if (otherLength > 0) {
                doubtful = true;
                std::fprintf(out,
                             "  geometry: %" PRIu64 " frames hold long packets of another length than %u bytes "
                             "(first: frame %zu at byte %" PRIu64 ", %u bytes); the unit client does not send them\n",
                             otherLength, recording.width(), firstOther, info[firstOther].otherLengthOffset,
                             info[firstOther].otherLengthBytes);
            }
            for (const GrabberFrameInfo& frame : info) {
                ecc += frame.eccErrors;
                crc += frame.checksumErrors;
                shorts += frame.shortPackets;
                if (frame.lineBytes != info.front().lineBytes || frame.longPackets != info.front().longPackets)
                    ++changed;
            }
            std::fprintf(out, "  geometry: %u long packets of %u bytes per frame, bpp %u\n", recording.height(),
                         recording.width(), recording.bpp());
            if (changed > 0) {
                doubtful = true;
                std::fprintf(out, "  geometry: %" PRIu64 " frames differ from the first frame\n", changed);
            }
            std::fprintf(out, "  CSI-2: %" PRIu64 " header ECC errors, %" PRIu64 " payload checksum errors\n", ecc,
                         crc);
            if (shorts > 0)
                std::fprintf(out,
                             "  CSI-2: the frames hold %" PRIu64 " short packets (frame start/end); the unit "
                             "client leaves them out (SkipCsi2ShortPackages)\n",
                             shorts);
        }

        // Data rate at the recorded cadence.
        const double perSecond = seconds > 0
            ? static_cast<double>(sentBytesPerFrame(recording)) * static_cast<double>(frames.size()) / seconds
            : 0.0;
        const double gbit = perSecond * 8 / 1e9;
        std::fprintf(out, "  data rate: %.1f MB/s (%.3f Gbit/s): %.0f %% of a 1 Gbit/s link, %.0f %% of 10 Gbit/s\n",
                     perSecond / 1e6, gbit, gbit * 100, gbit * 10);
        if (gbit > 10) {
            doubtful = true;
            std::fprintf(out, "  data rate: above what a 10 Gbit/s link carries\n");
        }

        // Every line takes one entry of the unit's replay FIFO.
        const uint32_t fifo = vxqir::sim::ChannelConfig{}.fifoEntries;
        const uint32_t lines = recording.sendShape().height;
        std::fprintf(out, "  unit FIFO: %u entries per frame, %u frames fit the emulated unit's %u entries\n", lines,
                     lines > 0 ? fifo / lines : 0, fifo);
        if (lines > fifo) {
            doubtful = true;
            std::fprintf(out, "  unit FIFO: a frame needs more entries than the emulated unit has\n");
        }
        std::fprintf(out, "  %s\n", doubtful ? "doubtful: see above" : "ready to replay");
        if (doubtful && worst == 0)
            worst = 1;
    }
    return worst;
}

} // namespace qir::replay
