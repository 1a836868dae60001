// qir-gen: writes synthetic camera recordings (grabber streams, raw frames,
// record files, image sequences) that qir-replay replays.
#include "RecordingGenerator.h"
#include "OutputFile.h"
#include "StopSignals.h"
#include "VideoClipWriter.h"

#include <CLI/CLI.hpp>

#include <cstdio>
#include <filesystem>
#include <system_error>

int main(int argc, char** argv)
{
    CLI::App app{
        "qir-gen: writes a synthetic camera recording for qir-replay.\n"
        "  grabber  grabber frames of CSI-2 packets (64-byte grabber header, recorded start times)\n"
        "  raw      raw frames with the 64-byte raw frame header (YUV 4:2:2 or mono 16-bit words)\n"
        "  record   sensor data records: one Video record per frame holding a CSI-2 chunk container\n"
        "  png, pgm, ppm  a directory of images, one file per frame, names carrying the frame's time\n"
        "  jpeg     a directory of JPEG images\n"
        "  video    a video clip through FFmpeg's encoders (FFV1 lossless by default; the container by the "
        "file's extension: .mkv, .avi, .mov, .mp4, .nut)\n"
        "The file (or directory) appears only when complete; an existing one is refused unless --force (a file "
        "is then replaced; a directory never is). Exit status: 0 written, 1 write error, 2 bad usage, "
        "130 interrupted."
    };
    app.name("qir-gen");
    qir::gen::GenSpec spec;
    std::string format;
    std::string output;
    std::string pattern = "Ramp";
    std::string pixels = "yuv422";
    app.add_option("FORMAT", format, "grabber, raw, record, png, pgm, ppm, jpeg or video")
        ->required()
        ->check(CLI::IsMember({ "grabber", "raw", "record", "png", "pgm", "ppm", "jpeg", "video" }));
    app.add_option("-o,--output", output, "the recording file (image formats: a new directory) to write")->required();
    app.add_option("--width", spec.width, "pixels per line")->capture_default_str();
    app.add_option("--height", spec.height, "lines per frame")->capture_default_str();
    app.add_option("--frames", spec.frames, "frames")->capture_default_str();
    app.add_option("--fps", spec.fps, "frames per second of the recorded times (all but raw)")->capture_default_str();
    app.add_option("--bpp", spec.bpp, "grabber, record: bits per pixel; png, jpeg: 8 gray or 24 RGB (default 8)")
        ->capture_default_str();
    app.add_option("--pattern", pattern, "content: Ramp, Counter or Noise")
        ->check(CLI::IsMember({ "Ramp", "Counter", "Noise" }))
        ->capture_default_str();
    app.add_option("--raw-pixels", pixels, "raw: yuv422 (two 16-bit words a pixel) or mono (one)")
        ->check(CLI::IsMember({ "yuv422", "mono" }))
        ->capture_default_str();
    app.add_flag("--short-packets", spec.shortPackets, "grabber: frame start and end packets around the lines");
    app.add_flag("--other-records", spec.otherRecords, "record: a CAN record before every Video record");
    std::string codec = "ffv1";
    app.add_option("--codec", codec, "video: ffv1 (lossless), mjpeg, h264 or rawvideo, where FFmpeg has the encoder")
        ->check(CLI::IsMember({ "ffv1", "mjpeg", "h264", "rawvideo" }))
        ->capture_default_str();
    bool force = false;
    app.add_flag("--force", force, "replace an existing output file");
    bool untimed = false;
    app.add_flag("--untimed-names", untimed, "images: names without times (frame_000000.png); replay them with --fps");
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        const int code = app.exit(error);
        return code == 0 ? 0 : 2;
    }
    std::error_code ignored;
    const bool isDirectory = std::filesystem::is_directory(output, ignored);
    if (std::filesystem::exists(std::filesystem::symlink_status(output, ignored)) && !(force && !isDirectory)) {
        std::fprintf(stderr, "qir-gen: %s: exists already; %s\n", output.c_str(),
                     isDirectory ? "qir-gen writes an image sequence to a new directory" : "--force replaces it");
        return 2;
    }
    if (format == "video") {
        qir::video::ClipSpec clip;
        clip.codec = codec == "h264" ? "libx264" : codec;
        clip.width = spec.width;
        clip.height = spec.height;
        clip.frames = spec.frames;
        clip.fps = static_cast<uint32_t>(spec.fps);
        if (!qir::video::hasEncoder(clip.codec)) {
            std::fprintf(stderr, "qir-gen: FFmpeg on this machine has no %s encoder\n", clip.codec.c_str());
            return 2;
        }
        if (spec.fps < 1 || spec.fps != static_cast<double>(clip.fps)) {
            std::fprintf(stderr, "qir-gen: video: --fps must be a whole number of frames per second\n");
            return 2;
        }
        try {
            qir::video::writeClip(output, clip);
        } catch (const qir::video::ClipError& error) {
            std::fprintf(stderr, "qir-gen: %s\n", error.what());
            return 1;
        }
        std::printf("qir-gen: wrote %s: %u %s frames of %u x %u pixels\n", output.c_str(), clip.frames, codec.c_str(),
                    clip.width, clip.height);
        return 0;
    }
    for (const auto f :
         { qir::gen::GenFormat::Grabber, qir::gen::GenFormat::Raw, qir::gen::GenFormat::Record,
           qir::gen::GenFormat::Png, qir::gen::GenFormat::Pgm, qir::gen::GenFormat::Ppm, qir::gen::GenFormat::Jpeg })
        if (format == qir::gen::genFormatName(f))
            spec.format = f;
    spec.timedNames = !untimed;
    if (app.count("--bpp") == 0 &&
        (spec.format == qir::gen::GenFormat::Png || spec.format == qir::gen::GenFormat::Jpeg))
        spec.bpp = 8;
    spec.rawMono = pixels == "mono";
    spec.pattern = *vxqir::frames::bytePatternFromName(pattern);
    const std::string why = qir::gen::checkGenSpec(spec);
    if (!why.empty()) {
        std::fprintf(stderr, "qir-gen: %s\n", why.c_str());
        return 2;
    }
    qir::tools::install_stop_signals();
    try {
        const uint32_t written = qir::gen::generateRecording(spec, output, [] { return qir::tools::stop_requested(); });
        if (written < spec.frames) {
            std::fprintf(stderr, "qir-gen: interrupted after %u of %u frames; %s was not written\n", written,
                         spec.frames, output.c_str());
            return qir::tools::kExitInterrupted;
        }
        if (qir::gen::isImageFormat(spec.format))
            std::printf("qir-gen: wrote %s: %u %s images of %u x %u pixels\n", output.c_str(), written, format.c_str(),
                        spec.width, spec.height);
        else
            std::printf("qir-gen: wrote %s: %u %s frames of %llu bytes\n", output.c_str(), written, format.c_str(),
                        static_cast<unsigned long long>(qir::gen::genFrameBytes(spec)));
        // Raw frames do not say their pixel layout, and the replay reads
        // YUV 4:2:2 unless told.
        if (spec.format == qir::gen::GenFormat::Raw && spec.rawMono)
            std::printf("qir-gen: mono raw frames: replay them with qir-replay --raw-pixels mono\n");
    } catch (const qir::tools::OutputFileError& error) {
        std::fprintf(stderr, "qir-gen: %s\n", error.what());
        return 1;
    }
    return 0;
}
