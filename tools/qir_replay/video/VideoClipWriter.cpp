#include "VideoClipWriter.h"

#include "VideoDecoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

#include <cstdio>
#include <algorithm>
#include <filesystem>
#include <map>
#include <memory>

namespace qir::video {

namespace {

std::string libraryErrorText(int code)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

/// One encoded stream of the clip.
struct Track {
    AVStream* stream = nullptr;
    AVCodecContext* codec = nullptr;
    AVFrame* frame = nullptr;  ///< in the encoder's pixel format
    AVFrame* source = nullptr; ///< the pattern in yuv420p
    SwsContext* scaler = nullptr;
    /// Each frame's duration by its time (in the codec's time base): a
    /// container may leave out a last frame that lasts nothing.
    std::map<int64_t, int64_t> durations;

    ~Track()
    {
        sws_freeContext(scaler);
        av_frame_free(&source);
        av_frame_free(&frame);
        avcodec_free_context(&codec);
    }
};

/// Everything written so far, freed (and the unfinished file removed) on
/// any way out.
struct Output {
    std::string path;
    std::string partial;
    AVFormatContext* format = nullptr;
    std::vector<std::unique_ptr<Track>> tracks;
    bool done = false;

    ~Output()
    {
        tracks.clear();
        if (format) {
            if (format->pb)
                avio_closep(&format->pb);
            avformat_free_context(format);
        }
        if (!done)
            std::remove(partial.c_str());
    }

    [[noreturn]] void fail(const std::string& cause) const { throw ClipError(path + ": " + cause); }
};

void drawPattern(AVFrame* frame, uint64_t n)
{
    for (int y = 0; y < frame->height; ++y)
        for (int x = 0; x < frame->width; ++x)
            frame->data[0][y * frame->linesize[0] + x] =
                static_cast<uint8_t>(16 + (x * 3 + y * 2 + static_cast<int>(n) * 7) % 220);
    for (int y = 0; y < (frame->height + 1) / 2; ++y)
        for (int x = 0; x < (frame->width + 1) / 2; ++x) {
            frame->data[1][y * frame->linesize[1] + x] = static_cast<uint8_t>(64 + (x * 5 + static_cast<int>(n)) % 128);
            frame->data[2][y * frame->linesize[2] + x] =
                static_cast<uint8_t>(64 + (y * 5 + static_cast<int>(n) * 3) % 128);
        }
}

void drain(Output& out, Track& track, AVPacket* packet)
{
    for (;;) {
        const int result = avcodec_receive_packet(track.codec, packet);
        if (result == AVERROR(EAGAIN) || result == AVERROR_EOF)
            return;
        if (result < 0)
            out.fail("encoding: " + libraryErrorText(result));
        if (packet->duration == 0) {
            const auto known = track.durations.find(packet->pts);
            packet->duration = known != track.durations.end() ? known->second : 1;
        }
        av_packet_rescale_ts(packet, track.codec->time_base, track.stream->time_base);
        packet->stream_index = track.stream->index;
        const int written = av_interleaved_write_frame(out.format, packet);
        if (written < 0)
            out.fail("writing: " + libraryErrorText(written));
    }
}

} // namespace

bool hasEncoder(const std::string& codec)
{
    return avcodec_find_encoder_by_name(codec.c_str()) != nullptr;
}

void writeClip(const std::string& path, const ClipSpec& spec)
{
    quietLibraryLog();
    Output out;
    out.path = path;
    out.partial = path + ".part";
    if (spec.width == 0 || spec.height == 0 || spec.fps == 0 || spec.streams == 0)
        out.fail("a clip needs a size, a frame rate and a stream");
    if (!spec.timesUs.empty() && spec.timesUs.size() != spec.frames)
        out.fail("one time per frame is needed");
    const AVOutputFormat* container = av_guess_format(nullptr, path.c_str(), nullptr);
    if (!container)
        out.fail("FFmpeg knows no container by this file's extension");
    int result = avformat_alloc_output_context2(&out.format, container, nullptr, out.partial.c_str());
    if (result < 0)
        out.fail(libraryErrorText(result));
    const AVCodec* encoder = avcodec_find_encoder_by_name(spec.codec.c_str());
    if (!encoder)
        out.fail("FFmpeg has no encoder " + spec.codec);
    const bool timed = !spec.timesUs.empty();
    for (uint32_t s = 0; s < spec.streams; ++s) {
        auto track = std::make_unique<Track>();
        track->stream = avformat_new_stream(out.format, nullptr);
        track->codec = avcodec_alloc_context3(encoder);
        if (!track->stream || !track->codec)
            out.fail("out of memory");
        track->codec->width = static_cast<int>(spec.width);
        track->codec->height = static_cast<int>(spec.height);
        track->codec->time_base = timed ? AVRational{ 1, 1000 } : AVRational{ 1, static_cast<int>(spec.fps) };
        track->codec->framerate = AVRational{ static_cast<int>(spec.fps), 1 };
        // The encoder's first (preferred) pixel format; yuv420p for those that take any.
        const AVPixelFormat pixels = encoder->pix_fmts ? encoder->pix_fmts[0] : AV_PIX_FMT_YUV420P;
        track->codec->pix_fmt = pixels;
        track->codec->gop_size = 12;
        track->codec->max_b_frames = 0;
        if (out.format->oformat->flags & AVFMT_GLOBALHEADER)
            track->codec->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        result = avcodec_open2(track->codec, encoder, nullptr);
        if (result < 0)
            out.fail("the " + spec.codec + " encoder does not open: " + libraryErrorText(result));
        result = avcodec_parameters_from_context(track->stream->codecpar, track->codec);
        if (result < 0)
            out.fail(libraryErrorText(result));
        track->stream->time_base = track->codec->time_base;
        track->stream->avg_frame_rate = timed ? AVRational{ 0, 1 } : track->codec->framerate;
        track->frame = av_frame_alloc();
        track->source = av_frame_alloc();
        if (!track->frame || !track->source)
            out.fail("out of memory");
        for (AVFrame* frame : { track->frame, track->source }) {
            frame->width = static_cast<int>(spec.width);
            frame->height = static_cast<int>(spec.height);
        }
        track->frame->format = pixels;
        track->source->format = AV_PIX_FMT_YUV420P;
        if (av_frame_get_buffer(track->frame, 0) < 0 || av_frame_get_buffer(track->source, 0) < 0)
            out.fail("out of memory");
        if (pixels != AV_PIX_FMT_YUV420P) {
            track->scaler =
                sws_getContext(static_cast<int>(spec.width), static_cast<int>(spec.height), AV_PIX_FMT_YUV420P,
                               static_cast<int>(spec.width), static_cast<int>(spec.height), pixels,
                               SWS_BILINEAR | SWS_BITEXACT, nullptr, nullptr, nullptr);
            if (!track->scaler)
                out.fail("FFmpeg cannot convert to the encoder's pixel format");
        }
        out.tracks.push_back(std::move(track));
    }
    if (!(out.format->oformat->flags & AVFMT_NOFILE)) {
        result = avio_open(&out.format->pb, out.partial.c_str(), AVIO_FLAG_WRITE);
        if (result < 0)
            out.fail("cannot write " + out.partial + ": " + libraryErrorText(result));
    }
    result = avformat_write_header(out.format, nullptr);
    if (result < 0)
        out.fail("the container does not take the clip: " + libraryErrorText(result));
    AVPacket* packet = av_packet_alloc();
    if (!packet)
        out.fail("out of memory");
    const std::unique_ptr<AVPacket, void (*)(AVPacket*)> packetGuard(packet, [](AVPacket* p) { av_packet_free(&p); });
    for (uint32_t n = 0; n < spec.frames; ++n) {
        for (size_t s = 0; s < out.tracks.size(); ++s) {
            Track& track = *out.tracks[s];
            if (av_frame_make_writable(track.frame) < 0 || av_frame_make_writable(track.source) < 0)
                out.fail("out of memory");
            drawPattern(track.source, n + s * 40);
            if (track.scaler)
                sws_scale(track.scaler, track.source->data, track.source->linesize, 0, track.source->height,
                          track.frame->data, track.frame->linesize);
            else
                av_frame_copy(track.frame, track.source);
            track.frame->pts = timed ? spec.timesUs[n] / 1000 : n;
            if (timed) {
                // Until the next frame; the last one as long as the one before.
                const int64_t next = n + 1 < spec.frames ? spec.timesUs[n + 1] / 1000
                    : n > 0 ? track.frame->pts + (track.frame->pts - spec.timesUs[n - 1] / 1000)
                            : track.frame->pts + 1;
                track.durations[track.frame->pts] = std::max<int64_t>(next - track.frame->pts, 1);
            }
            result = avcodec_send_frame(track.codec, track.frame);
            if (result < 0)
                out.fail("encoding frame " + std::to_string(n) + ": " + libraryErrorText(result));
            drain(out, track, packet);
        }
    }
    for (auto& track : out.tracks) {
        avcodec_send_frame(track->codec, nullptr);
        drain(out, *track, packet);
    }
    result = av_write_trailer(out.format);
    if (result < 0)
        out.fail("writing the end: " + libraryErrorText(result));
    avio_closep(&out.format->pb);
    std::error_code error;
    std::filesystem::rename(out.partial, path, error);
    if (error)
        out.fail("cannot rename " + out.partial + ": " + error.message());
    out.done = true;
}

} // namespace qir::video
