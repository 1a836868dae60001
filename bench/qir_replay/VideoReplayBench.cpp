// qir-replay of video files into the embedded emulated unit, in one run,
// for 1920 x 1080 clips at 30 frames/s written here (FFV1 in Matroska, and
// H.264 in MP4 where FFmpeg has libx264):
//  1. FFmpeg's own decode rate of each clip to bgr24: the ffmpeg program
//     where it is installed ("ffmpeg -i CLIP -f rawvideo -pix_fmt bgr24 -y
//     /dev/null", the whole program's time), and the libraries' plain
//     decode loop with our conversion (VideoDecoder, all threads);
//  2. qir-replay --rate max of each clip: frames/s from the first frame
//     handed on to the last, against the ffmpeg program's rate (else the
//     loop's; target: at least 0.8);
//  3. the H.264 clip (else FFV1) at its 30 frames/s cadence: how late the
//     unit played its frames (target: none more than 1 ms late) and how
//     many frames were due before the decode-ahead thread had them
//     (target: none).
// The figures come from the replay's summary record (what --summary-json
// writes), not from its text. Rounds of 1 and 2 alternate (--rounds, default
// 3), so that load on a shared machine falls on every side; the medians and
// the median of each round's ratio are the result.
//
// Bounded: a fixed number of frames (--frames, default 90) and rounds, every
// wait capped by the replay's own stall detection. Usage:
// bench_qir_replay_video [--frames N] [--rounds R]
#include "Diagnostics.h"
#include "ReplayRun.h"
#include "VideoClipWriter.h"
#include "VideoDecoder.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point began)
{
    return std::chrono::duration<double>(Clock::now() - began).count();
}

/// The ffmpeg program on PATH, or nullopt.
std::optional<std::string> ffmpegProgram()
{
    const char* path = std::getenv("PATH");
    std::string_view rest = path ? path : "";
    while (!rest.empty()) {
        const size_t colon = rest.find(':');
        const std::string dir(rest.substr(0, colon));
        rest = colon == std::string_view::npos ? std::string_view() : rest.substr(colon + 1);
        const std::string candidate = (dir.empty() ? std::string(".") : dir) + "/ffmpeg";
        if (::access(candidate.c_str(), X_OK) == 0)
            return candidate;
    }
    return std::nullopt;
}

/// Frames per second the ffmpeg program decodes `clip` to bgr24 at (the
/// whole program's time); 0 when it fails.
double ffmpegRate(const std::string& ffmpeg, const std::string& clip, uint32_t frames)
{
    std::vector<std::string> args = { ffmpeg, "-v",       "error",    "-nostdin", "-i", clip,
                                      "-f",   "rawvideo", "-pix_fmt", "bgr24",    "-y", "/dev/null" };
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    const auto began = Clock::now();
    pid_t pid = 0;
    if (::posix_spawn(&pid, ffmpeg.c_str(), nullptr, nullptr, argv.data(), environ) != 0)
        return 0.0;
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) { }
    const double seconds = secondsSince(began);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || seconds <= 0)
        return 0.0;
    return frames / seconds;
}

/// Frames per second of the libraries' plain decode loop with the
/// conversion the replay makes (all decoder threads); 0 on failure.
double libraryRate(const std::string& clip)
{
    try {
        qir::video::VideoDecoder decoder(clip, qir::video::VideoChoice{});
        qir::video::DecodedFrame frame;
        uint64_t frames = 0;
        const auto began = Clock::now();
        while (decoder.next(frame))
            ++frames;
        const double seconds = secondsSince(began);
        return seconds > 0 ? static_cast<double>(frames) / seconds : 0.0;
    } catch (const qir::video::VideoError& error) {
        std::fprintf(stderr, "bench_qir_replay_video: %s\n", error.what());
        return 0.0;
    }
}

/// One replay into the embedded unit, `leadSeconds` from the unit's first
/// status to the first frame's play time; nullopt (said on stderr) when it
/// failed.
std::optional<qir::replay::ChannelSummary> replay(const std::string& clip, double rate, std::FILE* quiet,
                                                  double leadSeconds = qir::replay::ReplayOptions{}.leadSeconds)
{
    qir::replay::ReplayOptions options;
    options.recordings = { clip };
    options.quiet = true;
    options.rate = rate;
    options.leadSeconds = leadSeconds;
    const qir::replay::ReplayResult result = qir::replay::runReplay(options, quiet, stderr);
    if (result.exitCode != 0 || result.channels.empty()) {
        std::fprintf(stderr, "bench_qir_replay_video: the replay of %s failed (exit %d)\n", clip.c_str(),
                     result.exitCode);
        return std::nullopt;
    }
    return result.channels.front();
}

struct Clip {
    std::string name; ///< "FFV1", "H.264"
    std::string path;
    // Frames per second of each round:
    std::vector<double> program;        ///< the ffmpeg program
    std::vector<double> loop;           ///< the libraries' decode loop
    std::vector<double> replay;         ///< qir-replay --rate max
    std::vector<double> ratio;          ///< replay / the baseline
    std::vector<double> shortLead;      ///< qir-replay --rate max --lead 0.1
    std::vector<double> shortLeadRatio; ///< that / the baseline
};

double median(std::vector<double> values)
{
    if (values.empty())
        return 0.0;
    std::sort(values.begin(), values.end());
    const size_t mid = values.size() / 2;
    return values.size() % 2 == 1 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
}

} // namespace

int main(int argc, char** argv)
{
    uint32_t frames = 90;
    uint32_t rounds = 3;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--frames") == 0 && i + 1 < argc) {
            frames = static_cast<uint32_t>(std::strtoul(argv[++i], nullptr, 10));
        } else if (std::strcmp(argv[i], "--rounds") == 0 && i + 1 < argc) {
            rounds = static_cast<uint32_t>(std::strtoul(argv[++i], nullptr, 10));
        } else {
            std::printf("usage: bench_qir_replay_video [--frames N] [--rounds R]  (N from 2 to 600, default 90; R "
                        "from 1 to 20, default 3)\n");
            return std::strcmp(argv[i], "-h") == 0 || std::strcmp(argv[i], "--help") == 0 ? 0 : 2;
        }
    }
    if (frames < 2 || frames > 600 || rounds < 1 || rounds > 20) {
        std::fprintf(stderr, "bench_qir_replay_video: --frames must be from 2 to 600, --rounds from 1 to 20\n");
        return 2;
    }
    // The library's diagnostic lines would only clutter the figures.
    vxqir::setDiagnosticSink([](vxqir::DiagnosticStream, std::string_view) {});

    char dirTemplate[] = "/tmp/bench_qir_replay_video.XXXXXX";
    if (::mkdtemp(dirTemplate) == nullptr) {
        std::perror("bench_qir_replay_video: mkdtemp");
        return 1;
    }
    const std::string dir = dirTemplate;
    std::vector<Clip> clips(1);
    clips[0].name = "FFV1";
    clips[0].path = dir + "/hd30-ffv1.mkv";
    if (qir::video::hasEncoder("libx264"))
        clips.push_back(Clip{ .name = "H.264",
                              .path = dir + "/hd30-h264.mp4",
                              .program = {},
                              .loop = {},
                              .replay = {},
                              .ratio = {},
                              .shortLead = {},
                              .shortLeadRatio = {} });
    else
        std::printf("FFmpeg here has no libx264 encoder: FFV1 only\n");
    try {
        for (const Clip& clip : clips) {
            qir::video::ClipSpec spec;
            spec.codec = clip.name == "FFV1" ? "ffv1" : "libx264";
            spec.width = 1920;
            spec.height = 1080;
            spec.fps = 30;
            spec.frames = frames;
            qir::video::writeClip(clip.path, spec);
        }
    } catch (const qir::video::ClipError& error) {
        std::fprintf(stderr, "bench_qir_replay_video: %s\n", error.what());
        std::filesystem::remove_all(dir);
        return 1;
    }
    const std::optional<std::string> ffmpeg = ffmpegProgram();
    if (!ffmpeg)
        std::printf("no ffmpeg program on PATH: the libraries' decode loop is the baseline\n");
    std::FILE* quiet = std::fopen("/dev/null", "w");
    bool failed = false;

    std::printf("1920x1080 at 30 frames/s, %u frames, sent as bgr24; %u rounds (frames/s):\n", frames, rounds);
    for (uint32_t round = 1; round <= rounds; ++round) {
        for (Clip& clip : clips) {
            const double program = ffmpeg ? ffmpegRate(*ffmpeg, clip.path, frames) : 0.0;
            const double loop = libraryRate(clip.path);
            const auto fastest = replay(clip.path, 0.0, quiet);
            if (!fastest || !fastest->framesPerSecond || (ffmpeg && program <= 0) || loop <= 0) {
                failed = true;
                continue;
            }
            // The embedded unit plays nothing before the lead (1 s by default)
            // has passed, and its FIFO holds less than two frames: the rate
            // from the first frame handed on includes that wait. The same
            // replay with a 0.1-s lead shows the rate once frames flow.
            const auto shortLead = replay(clip.path, 0.0, quiet, 0.1);
            if (!shortLead || !shortLead->framesPerSecond) {
                failed = true;
                continue;
            }
            const double rate = *fastest->framesPerSecond;
            const double baseline = ffmpeg ? program : loop;
            clip.program.push_back(program);
            clip.loop.push_back(loop);
            clip.replay.push_back(rate);
            clip.ratio.push_back(rate / baseline);
            clip.shortLead.push_back(*shortLead->framesPerSecond);
            clip.shortLeadRatio.push_back(clip.shortLead.back() / baseline);
            std::printf("  round %u %-5s: ffmpeg program %6.1f, decode loop %6.1f, qir-replay --rate max %6.1f "
                        "(%llu frames not decoded when due), ratio %.2f; with --lead 0.1 %6.1f, ratio %.2f\n",
                        round, clip.name.c_str(), program, loop, rate,
                        static_cast<unsigned long long>(fastest->framesNotDecodedInTime.value_or(0)), clip.ratio.back(),
                        clip.shortLead.back(), clip.shortLeadRatio.back());
        }
    }
    for (const Clip& clip : clips)
        std::printf("%s medians: ffmpeg program %.1f frames/s, decode loop %.1f, qir-replay --rate max %.1f; ratio "
                    "to the %s %.2f (target at least 0.8); with --lead 0.1 %.1f, ratio %.2f\n",
                    clip.name.c_str(), median(clip.program), median(clip.loop), median(clip.replay),
                    ffmpeg ? "ffmpeg program" : "decode loop", median(clip.ratio), median(clip.shortLead),
                    median(clip.shortLeadRatio));

    const Clip& timed = clips.back();
    if (const auto cadence = replay(timed.path, 1.0, quiet)) {
        const uint64_t notReady = cadence->framesNotDecodedInTime.value_or(0);
        std::printf("%s at its cadence: played late by at most %.3f ms (mean %.3f ms), %llu of %llu frames more "
                    "than 1 ms late: %s; %llu frames not decoded when due: %s\n",
                    timed.name.c_str(), cadence->lateMaxMs, cadence->lateMeanMs,
                    static_cast<unsigned long long>(cadence->framesLateOver1ms),
                    static_cast<unsigned long long>(cadence->framesTimed),
                    cadence->lateMaxMs <= 1.0 ? "within 1 ms" : "LATE", static_cast<unsigned long long>(notReady),
                    notReady == 0 ? "decode-ahead never empty" : "decode-ahead fell behind");
    } else {
        failed = true;
    }
    std::fclose(quiet);
    std::filesystem::remove_all(dir);
    return failed ? 1 : 0;
}
