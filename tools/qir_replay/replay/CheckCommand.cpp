#include "CheckCommand.h"

#include "Counted.h"

#include "CheckProgress.h"
#include "EmulatorConfig.h"
#include "TimeGaps.h"
#include "VideoCheck.h"
#include "unit_client/csi2/MipiCsi2Chunks.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cinttypes>
#include <cstdarg>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

namespace qir::replay {

namespace {

__attribute__((format(printf, 1, 2))) std::string textOf(const char* pattern, ...)
{
    va_list values;
    va_start(values, pattern);
    va_list again;
    va_copy(again, values);
    const int length = std::vsnprintf(nullptr, 0, pattern, values);
    va_end(values);
    std::string text(length > 0 ? static_cast<size_t>(length) : 0, '\0');
    std::vsnprintf(text.data(), text.size() + 1, pattern, again);
    va_end(again);
    return text;
}

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
bool checkVideoRecords(const Recording& recording, const std::function<void(std::string)>& say)
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
    say(textOf("  geometry: %u x %u pixels, pixel format %s (0x%02X); %s of %s per frame\n", first.header.width,
               first.header.height,
               MIPICSI2::subTypeToString(static_cast<MIPICSI2::SubType>(first.header.pixel_format)),
               first.header.pixel_format, counted(first.dataChunks, "data chunk").c_str(),
               counted(first.payloadBytes, "byte").c_str()));
    if (recording.skippedRecords() > 0)
        say(textOf("  records: %s of other types than Video skipped\n",
                   counted(recording.skippedRecords(), "record").c_str()));
    bool doubtful = false;
    if (changed > 0) {
        doubtful = true;
        say(textOf("  geometry: %s from the first frame (the unit takes the first frame's lines; the others "
                   "arrive incomplete)\n",
                   counted(changed, "frame differs", "frames differ").c_str()));
    }
    say(textOf(
        "  CSI-2: %s, %s (flagged by the recorder), %s from the first\n", counted(ecc, "header ECC error").c_str(),
        counted(crc, "payload checksum error").c_str(),
        counted(wordCounts, "data chunk whose word count differs", "data chunks whose word count differs").c_str()));
    return doubtful;
}

} // namespace

int runCheck(const ReplayOptions& options, std::FILE* out, std::FILE* err, bool json)
{
    int worst = 0;
    nlohmann::json reports = nlohmann::json::array();
    for (const std::string& path : options.recordings) {
        // What is found, as lines of text and (--json) as fields.
        std::vector<std::string> lines;
        nlohmann::json entry = { { "file", path } };
        const auto say = [&lines](std::string line) {
            if (!line.empty() && line.back() == '\n')
                line.pop_back();
            lines.push_back(std::move(line));
        };
        const auto refuse = [&](const std::string& text) {
            std::fprintf(err, "qir-replay: %s\n", text.c_str());
            entry["status"] = "refused";
            entry["error"] = text;
            reports.push_back(entry);
            worst = 2;
        };
        std::optional<Recording> opened;
        CheckProgress checking(err, false);
        try {
            OpenOptions open;
            open.format = options.format;
            open.rawPixels = options.rawPixels;
            open.keepGoing = options.keepGoing;
            open.video = options.video;
            open.progress = [&checking](uint64_t done, uint64_t total) { checking.update(done, total); };
            checking.begin(path);
            opened.emplace(Recording::open(path, open));
            checking.end();
        } catch (const RecordingError& error) {
            checking.end();
            refuse(error.what());
            continue;
        }
        const Recording& recording = *opened;
        // What the replay would refuse, check refuses too.
        if (const auto refusal = replayRefusal(options, recording)) {
            refuse(*refusal);
            continue;
        }
        const auto& frames = recording.frames();
        entry["format"] = std::string(formatName(recording.format()));
        entry["frames"] = frames.size();
        entry["bytes"] = recording.totalBytes();
        say(textOf("%s: %s, %s, %s\n", path.c_str(), std::string(formatName(recording.format())).c_str(),
                   counted(frames.size(), "frame").c_str(), counted(recording.totalBytes(), "byte").c_str()));
        bool doubtful = false;

        // Times: recorded (grabber) or from the frame rate.
        const bool raw = recording.format() == RecordingFormat::Raw;
        const double fps = options.fps > 0 ? options.fps : !recording.carriesTimes() ? kDefaultRawFps : 0.0;
        double seconds = 0.0;
        if (fps > 0) {
            seconds = static_cast<double>(frames.size()) / fps;
            say(textOf("  times: from %.3f frames per second, %.3f s\n", fps, seconds));
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
            say(textOf("  times: %s, %.3f s from %" PRIu64 " us\n", named ? "from the file names" : "recorded", seconds,
                       frames.front().timeUs));
            if (notIncreasing > 0) {
                doubtful = true;
                say(textOf("  times: %s after the frame before %s (first: frame %zu at %s); --fps gives times "
                           "from a frame rate\n",
                           counted(notIncreasing, "frame does not come", "frames do not come").c_str(),
                           notIncreasing == 1 ? "it" : "them", firstBad, placeOf(recording, firstBad).c_str()));
            }
            entry["notIncreasing"] = notIncreasing;
            // Gaps (frames missing) and jumps (the replay waits through them).
            const TimeGapReport gaps = findTimeGaps(frames);
            entry["periodSeconds"] = gaps.periodSeconds;
            entry["gaps"] = gaps.gaps;
            entry["jumps"] = gaps.jumps;
            entry["largestGap"] = gaps.largestAfterFrame
                ? nlohmann::json{ { "afterFrame", *gaps.largestAfterFrame },
                                  { "place", placeOf(recording, *gaps.largestAfterFrame) },
                                  { "seconds", gaps.largestSeconds } }
                : nlohmann::json(nullptr);
            if (gaps.gaps > 0)
                say(textOf(
                    "  times: %s of more than 3 frame periods (%.3f s), %s of more than 10 periods and 1 s; "
                    "the longest %.3f s after frame %zu at %s",
                    counted(gaps.gaps, "gap").c_str(), gaps.periodSeconds,
                    gaps.gaps == 1
                        ? (gaps.jumps == 1 ? "a jump" : "no jump")
                        : (std::to_string(gaps.jumps) + " of them " + nounFor(gaps.jumps, "a jump", "jumps")).c_str(),
                    gaps.largestSeconds, *gaps.largestAfterFrame, placeOf(recording, *gaps.largestAfterFrame).c_str()));
            if (gaps.jumps > 0) {
                doubtful = true;
                say(textOf("  times: the replay waits through each jump as recorded; --fps gives times from a "
                           "frame rate"));
            }
        }
        entry["timesFrom"] = fps > 0 ? "frame rate" : "recorded";
        entry["seconds"] = seconds;

        // Geometry and CSI-2 records.
        if (!recording.damage().empty()) {
            doubtful = true;
            say(textOf("  damage: %s; the %s before it %s with --keep-going\n", recording.damage().c_str(),
                       counted(frames.size(), "whole frame").c_str(), frames.size() == 1 ? "replays" : "replay"));
        }
        if (recording.format() == RecordingFormat::Record) {
            doubtful = checkVideoRecords(recording, say) || doubtful;
        } else if (recording.format() == RecordingFormat::Images || recording.format() == RecordingFormat::Jpeg) {
            const ImageInfo& first = recording.imageInfo().front();
            const bool jpeg = recording.format() == RecordingFormat::Jpeg;
            say(textOf("  geometry: %u x %u pixels, %s, %s files, every image the same\n", recording.width(),
                       recording.height(),
                       jpeg ? (recording.channels() == 1 ? "one component" : "several components")
                           : recording.channels() == 1 ? "gray"
                                                       : "RGB",
                       kindName(first.kind)));
            if (recording.format() == RecordingFormat::Jpeg)
                say(textOf("  coded: each image goes out as %s of %s (its bytes, then zeros)\n",
                           counted(recording.height(), "packet").c_str(),
                           counted(recording.codedPacketBytes(), "byte").c_str()));
            if (recording.skippedFiles() > 0)
                say(textOf("  files: %s of the directory %s and %s skipped\n",
                           counted(recording.skippedFiles(), "file").c_str(),
                           recording.skippedFiles() == 1 ? "is no image" : "are no images",
                           recording.skippedFiles() == 1 ? "was" : "were"));
        } else if (recording.format() == RecordingFormat::Video) {
            // The video lines, written as the other lines are.
            char* text = nullptr;
            size_t length = 0;
            if (std::FILE* memory = ::open_memstream(&text, &length)) {
                printVideoCheck(recording, memory);
                std::fclose(memory);
                std::string all(text, length);
                for (size_t at = 0; at < all.size();) {
                    const size_t end = std::min(all.find('\n', at), all.size());
                    say(all.substr(at, end - at));
                    at = end + 1;
                }
            }
            std::free(text);
        } else if (raw) {
            say(textOf("  geometry: %u x %u pixels, %s, every frame the same\n", recording.width(), recording.height(),
                       recording.rawPixels() == RawPixelFormat::Mono ? "mono 16-bit" : "YUV 4:2:2"));
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
                refuse(textOf("%s: frame %zu at byte %" PRIu64 ": a long packet of %u bytes, not the %u bytes of the "
                              "recording's packets; the unit client does not send such frames (%" PRIu64
                              " of them; --keep-going checks on)",
                              path.c_str(), firstOther, info[firstOther].otherLengthOffset,
                              info[firstOther].otherLengthBytes, recording.width(), otherLength));
                continue;
            }
            if (otherLength > 0) {
                doubtful = true;
                say(textOf("  geometry: %s long packets of another length than %u bytes (first: frame %zu at "
                           "byte %" PRIu64 ", %u bytes); the unit client does not send them\n",
                           counted(otherLength, "frame holds", "frames hold").c_str(), recording.width(), firstOther,
                           info[firstOther].otherLengthOffset, info[firstOther].otherLengthBytes));
            }
            for (const GrabberFrameInfo& frame : info) {
                ecc += frame.eccErrors;
                crc += frame.checksumErrors;
                shorts += frame.shortPackets;
                if (frame.lineBytes != info.front().lineBytes || frame.longPackets != info.front().longPackets)
                    ++changed;
            }
            say(textOf("  geometry: %s of %s per frame, bpp %u\n", counted(recording.height(), "long packet").c_str(),
                       counted(recording.width(), "byte").c_str(), recording.bpp()));
            if (changed > 0) {
                doubtful = true;
                say(textOf("  geometry: %s from the first frame\n",
                           counted(changed, "frame differs", "frames differ").c_str()));
            }
            say(textOf("  CSI-2: %s, %s\n", counted(ecc, "header ECC error").c_str(),
                       counted(crc, "payload checksum error").c_str()));
            if (shorts > 0)
                say(textOf("  CSI-2: the frames hold %s (frame start/end); the unit client leaves %s out "
                           "(SkipCsi2ShortPackages)\n",
                           counted(shorts, "short packet").c_str(), shorts == 1 ? "it" : "them"));
        }

        // Data rate at the recorded cadence.
        const double perSecond = seconds > 0
            ? static_cast<double>(sentBytesPerFrame(recording)) * static_cast<double>(frames.size()) / seconds
            : 0.0;
        const double gbit = perSecond * 8 / 1e9;
        say(textOf("  data rate: %.1f MB/s (%.3f Gbit/s): %.0f %% of a 1 Gbit/s link, %.0f %% of 10 Gbit/s\n",
                   perSecond / 1e6, gbit, gbit * 100, gbit * 10));
        if (gbit > 10) {
            doubtful = true;
            say(textOf("  data rate: above what a 10 Gbit/s link carries: the replay cannot keep the recorded "
                       "times (every frame still arrives)\n"));
        } else if (gbit > 0.8) {
            say(textOf("  data rate: the figures count the line payload the unit receives at the recorded cadence, "
                       "without packet headers; near or above a 1 Gbit/s link's rate a replay over such a link runs "
                       "slower than recorded (every frame still arrives; a faster link keeps the times)\n"));
        }

        // Every line takes one entry of the unit's replay FIFO.
        const uint32_t fifo = vxqir::sim::ChannelConfig{}.fifoEntries;
        const uint32_t fifoLines = recording.sendShape().height;
        const uint32_t fitting = fifoLines > 0 ? fifo / fifoLines : 0;
        say(textOf("  unit FIFO: %s per frame, %s the emulated unit's %s\n",
                   counted(fifoLines, "entry", "entries").c_str(), counted(fitting, "frame fits", "frames fit").c_str(),
                   counted(fifo, "entry", "entries").c_str()));
        entry["fifoEntriesPerFrame"] = fifoLines;
        if (fifoLines > fifo) {
            doubtful = true;
            say(textOf("  unit FIFO: a frame needs more entries than the emulated unit has\n"));
        }
        say(textOf("  %s\n", doubtful ? "doubtful: see above" : "ready to replay"));
        if (doubtful && worst == 0)
            worst = 1;
        entry["bytesPerSecond"] = perSecond;
        entry["status"] = doubtful ? "doubtful" : "ready";
        entry["report"] = lines;
        reports.push_back(entry);
        if (!json)
            for (const std::string& line : lines)
                std::fprintf(out, "%s\n", line.c_str());
    }
    if (json)
        std::fprintf(out, "%s\n", nlohmann::json{ { "exitCode", worst }, { "recordings", reports } }.dump(2).c_str());
    return worst;
}

} // namespace qir::replay
