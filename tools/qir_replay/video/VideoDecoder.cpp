#include "VideoDecoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/avutil.h>
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

#include <dlfcn.h>

#include <algorithm>
#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <limits>
#include <mutex>
#include <utility>

namespace qir::video {

namespace {

/// Lines and line lengths are 16-bit on the wire.
constexpr uint32_t kMaxLineBytes = 0xFFFF;
constexpr uint32_t kMaxLines = 0xFFFF;
/// The most bytes one frame's sample holds.
constexpr uint64_t kMaxFrameBytes = 0x7FFFFFFFu - 4096u;
/// Lines of a converted frame start this many bytes apart at least.
constexpr size_t kLineAlign = 64;
/// The converter may read and write a little past a line's end.
constexpr size_t kSlackBytes = 64;
constexpr size_t kIoBufferBytes = 64 * 1024;

/// FFmpeg's last error message on this thread, for messages of no decoder
/// of ours (its log is kept quiet: our errors name the cause themselves and
/// add this text).
thread_local std::string t_lastLibraryError;

/// The errors FFmpeg reported while reading or decoding for one decoder: a
/// demuxer that skipped damaged bytes or a decoder that concealed damage
/// says so only in its log. Written by FFmpeg's threads (frame threads of
/// the codec too), read by the decoder's user.
struct LibraryErrors {
    std::mutex mutex;
    std::string first;

    void note(const std::string& text)
    {
        std::lock_guard lock(mutex);
        if (first.empty())
            first = text;
    }
    std::string take()
    {
        std::lock_guard lock(mutex);
        return std::exchange(first, std::string());
    }
};

// FFmpeg hands its own printf formats on to this callback.
__attribute__((format(printf, 3, 0))) void logCallback(void* context, int level, const char* format, va_list args)
{
    if (level > AV_LOG_ERROR)
        return;
    char line[512];
    std::vsnprintf(line, sizeof line, format, args);
    std::string text(line);
    while (!text.empty() && (text.back() == '\n' || text.back() == ' '))
        text.pop_back();
    if (text.empty())
        return;
    // The contexts of our decoders carry their error sink; the codec's
    // frame threads work on copies that keep it.
    const AVClass* kind = context ? *static_cast<const AVClass* const*>(context) : nullptr;
    LibraryErrors* sink = nullptr;
    if (kind == avcodec_get_class())
        sink = static_cast<LibraryErrors*>(static_cast<AVCodecContext*>(context)->opaque);
    else if (kind == avformat_get_class())
        sink = static_cast<LibraryErrors*>(static_cast<AVFormatContext*>(context)->opaque);
    if (sink)
        sink->note(text);
    else
        t_lastLibraryError = text;
}

std::string errorText(int code)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    std::string out = text;
    if (!t_lastLibraryError.empty() && t_lastLibraryError != out)
        out += " (" + t_lastLibraryError + ")";
    t_lastLibraryError.clear();
    return out;
}

AVPixelFormat avFormatOf(VideoPixelFormat format)
{
    switch (format) {
    case VideoPixelFormat::Rgb24:
        return AV_PIX_FMT_RGB24;
    case VideoPixelFormat::Bgr24:
        return AV_PIX_FMT_BGR24;
    case VideoPixelFormat::Gray8:
        return AV_PIX_FMT_GRAY8;
    case VideoPixelFormat::Gray16le:
        return AV_PIX_FMT_GRAY16LE;
    case VideoPixelFormat::Yuyv422:
        return AV_PIX_FMT_YUYV422;
    case VideoPixelFormat::Uyvy422:
        return AV_PIX_FMT_UYVY422;
    }
    return AV_PIX_FMT_BGR24;
}

std::string secondsText(int64_t us)
{
    char text[48];
    std::snprintf(text, sizeof text, "%.3f s", static_cast<double>(us) / 1e6);
    return text;
}

/// Keeps FFmpeg's libraries loaded for the life of the process, also when
/// what linked them (a package) is unloaded: their dependencies allocate
/// once when loaded, and unloading them would leave that memory unowned.
void pinLibrary(const void* symbol)
{
    Dl_info info{};
    if (dladdr(symbol, &info) != 0 && info.dli_fname != nullptr)
        (void)dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
}

[[maybe_unused]] const bool g_librariesPinned = [] {
    pinLibrary(reinterpret_cast<const void*>(&avformat_open_input));
    pinLibrary(reinterpret_cast<const void*>(&avcodec_open2));
    pinLibrary(reinterpret_cast<const void*>(&sws_scale));
    pinLibrary(reinterpret_cast<const void*>(&av_log_set_callback));
    return true;
}();

/// Bytes in memory as FFmpeg's input.
struct MemoryInput {
    std::span<const uint8_t> bytes;
    size_t at = 0;

    static int read(void* opaque, uint8_t* into, int size)
    {
        auto* self = static_cast<MemoryInput*>(opaque);
        const size_t left = self->bytes.size() - self->at;
        if (left == 0)
            return AVERROR_EOF;
        const size_t n = std::min(left, static_cast<size_t>(std::max(size, 0)));
        std::memcpy(into, self->bytes.data() + self->at, n);
        self->at += n;
        return static_cast<int>(n);
    }

    static int64_t seek(void* opaque, int64_t offset, int whence)
    {
        auto* self = static_cast<MemoryInput*>(opaque);
        const auto size = static_cast<int64_t>(self->bytes.size());
        int64_t to = 0;
        switch (whence & ~AVSEEK_FORCE) {
        case AVSEEK_SIZE:
            return size;
        case SEEK_SET:
            to = offset;
            break;
        case SEEK_CUR:
            to = static_cast<int64_t>(self->at) + offset;
            break;
        case SEEK_END:
            to = size + offset;
            break;
        default:
            return AVERROR(EINVAL);
        }
        if (to < 0 || to > size)
            return AVERROR(EINVAL);
        self->at = static_cast<size_t>(to);
        return to;
    }
};

} // namespace

struct VideoDecoder::State {
    std::string name;
    VideoChoice choice;
    VideoStreamInfo info;
    const PixelLayout* layout = nullptr;
    MemoryInput memory;
    AVIOContext* io = nullptr;
    AVFormatContext* format = nullptr;
    AVCodecContext* codec = nullptr;
    AVStream* stream = nullptr;
    AVPacket* packet = nullptr;
    AVFrame* frame = nullptr;
    SwsContext* scaler = nullptr;
    uint64_t frames = 0;    ///< frames returned so far
    uint64_t packets = 0;   ///< packets of the stream sent to the decoder
    int64_t lastTimeUs = 0; ///< the previous frame's time
    int64_t lastPacketTimeUs = -1;
    int64_t lastPacketByte = -1;
    bool draining = false;
    LibraryErrors errors;

    ~State()
    {
        sws_freeContext(scaler);
        av_frame_free(&frame);
        av_packet_free(&packet);
        avcodec_free_context(&codec);
        avformat_close_input(&format);
        if (io) {
            av_freep(&io->buffer);
            avio_context_free(&io);
        }
    }

    [[noreturn]] void fail(const std::string& cause) const { throw VideoError(name + ": " + cause); }

    std::string where(uint64_t index, int64_t timeUs, int64_t byte) const
    {
        std::string text = "frame " + std::to_string(index) + " (";
        text += timeUs >= 0 ? secondsText(timeUs) : std::string("time unknown");
        if (byte >= 0)
            text += ", byte " + std::to_string(byte);
        return text + ")";
    }

    int64_t toUs(int64_t ts) const { return av_rescale_q(ts, stream->time_base, AVRational{ 1, 1000000 }); }

    void open(const std::string& path)
    {
        quietLibraryLog();
        if (memory.bytes.data() != nullptr) {
            auto* buffer = static_cast<uint8_t*>(av_malloc(kIoBufferBytes));
            io = buffer ? avio_alloc_context(buffer, static_cast<int>(kIoBufferBytes), 0, &memory, &MemoryInput::read,
                                             nullptr, &MemoryInput::seek)
                        : nullptr;
            if (!io) {
                av_free(buffer);
                fail("out of memory");
            }
            format = avformat_alloc_context();
            if (!format)
                fail("out of memory");
            format->pb = io;
            format->flags |= AVFMT_FLAG_CUSTOM_IO;
        }
        if (!format)
            format = avformat_alloc_context();
        if (!format)
            fail("out of memory");
        // Damage the container's reader reports is this decoder's, also
        // while the streams are probed (which reads ahead); the probe's own
        // decoders report elsewhere.
        format->opaque = &errors;
        int result = avformat_open_input(&format, memory.bytes.data() ? nullptr : path.c_str(), nullptr, nullptr);
        if (result < 0)
            fail("not a video FFmpeg can open: " + errorText(result));
        result = avformat_find_stream_info(format, nullptr);
        if (result < 0)
            fail("FFmpeg cannot read the streams: " + errorText(result));
        info.container = format->iformat->name;
        t_lastLibraryError.clear();
        for (unsigned i = 0; i < format->nb_streams; ++i)
            if (format->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO &&
                (format->streams[i]->disposition & AV_DISPOSITION_ATTACHED_PIC) == 0)
                ++info.videoStreams;
        int index = choice.stream;
        if (index < 0) {
            index = av_find_best_stream(format, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
            if (index < 0)
                fail("no video stream (" + std::to_string(format->nb_streams) + " streams of other kinds)");
        } else if (static_cast<unsigned>(index) >= format->nb_streams ||
                   format->streams[index]->codecpar->codec_type != AVMEDIA_TYPE_VIDEO) {
            std::string videos;
            for (unsigned i = 0; i < format->nb_streams; ++i)
                if (format->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO)
                    videos += (videos.empty() ? "" : ", ") + std::to_string(i);
            fail("stream " + std::to_string(index) +
                 " is no video stream (video streams: " + (videos.empty() ? std::string("none") : videos) + ")");
        }
        stream = format->streams[index];
        info.stream = index;
        const AVCodecParameters* parameters = stream->codecpar;
        info.codec = avcodec_get_name(parameters->codec_id);
        const AVCodec* decoder = avcodec_find_decoder(parameters->codec_id);
        if (!decoder)
            fail("FFmpeg has no decoder for the codec " + info.codec + " of stream " + std::to_string(index));
        codec = avcodec_alloc_context3(decoder);
        if (!codec)
            fail("out of memory");
        result = avcodec_parameters_to_context(codec, parameters);
        if (result < 0)
            fail("stream " + std::to_string(index) + ": " + errorText(result));
        codec->pkt_timebase = stream->time_base;
        codec->opaque = &errors;
        // Damage is found, not hidden: checksums and CRCs where the codec
        // carries them.
        codec->err_recognition |= AV_EF_CRCCHECK | AV_EF_BITSTREAM;
        codec->thread_count = choice.decoderThreads;
        if (!choice.frameThreads)
            codec->thread_type = FF_THREAD_SLICE;
        if (choice.maxPixels > 0)
            codec->max_pixels = choice.maxPixels;
        result = avcodec_open2(codec, decoder, nullptr);
        if (result < 0)
            fail("the " + info.codec + " decoder does not open: " + errorText(result));
        info.width = static_cast<uint32_t>(std::max(parameters->width, 0));
        info.height = static_cast<uint32_t>(std::max(parameters->height, 0));
        const auto pixels = static_cast<AVPixelFormat>(parameters->format);
        const char* pixelName = av_get_pix_fmt_name(pixels);
        info.sourcePixels = pixelName ? pixelName : "unknown";
        const AVRational rate = stream->avg_frame_rate.num > 0 ? stream->avg_frame_rate : stream->r_frame_rate;
        info.frameRate = rate.num > 0 && rate.den > 0 ? av_q2d(rate) : 0.0;
        if (format->duration > 0)
            info.durationUs = format->duration;
        else if (stream->duration > 0)
            info.durationUs = toUs(stream->duration);
        checkGeometry(info.width, info.height);
        packet = av_packet_alloc();
        frame = av_frame_alloc();
        if (!packet || !frame)
            fail("out of memory");
    }

    void checkGeometry(uint32_t width, uint32_t height) const
    {
        if (width == 0 || height == 0)
            fail("stream " + std::to_string(info.stream) + " gives no picture size");
        const uint64_t line = uint64_t{ width } * layout->bytesPerPixel;
        if (line > kMaxLineBytes || height > kMaxLines)
            fail(std::to_string(width) + "x" + std::to_string(height) + " pixels in " + std::string(layout->name) +
                 " make lines of " + std::to_string(line) + " bytes; the unit takes at most " +
                 std::to_string(kMaxLineBytes) + " bytes in each of at most " + std::to_string(kMaxLines) + " lines");
        if (uint64_t{ line } * height > kMaxFrameBytes)
            fail(std::to_string(width) + "x" + std::to_string(height) + " pixels in " + std::string(layout->name) +
                 " are more than one sample holds (" + std::to_string(kMaxFrameBytes) + " bytes)");
        if (choice.maxPixels > 0 && static_cast<int64_t>(uint64_t{ width } * height) > choice.maxPixels)
            fail(std::to_string(width) + "x" + std::to_string(height) + " pixels are more than " +
                 std::to_string(choice.maxPixels));
        if (width % layout->widthMultiple != 0)
            fail(std::string(layout->name) + " needs an even width, the video is " + std::to_string(width) +
                 " pixels wide");
    }

    /// Feeds the decoder one more packet of the stream; false once the
    /// file is read to its end (the decoder is then drained).
    bool feed()
    {
        for (;;) {
            const int result = av_read_frame(format, packet);
            if (const std::string error = errors.take(); !error.empty()) {
                av_packet_unref(packet);
                throw VideoError(
                    name + ": frame " + std::to_string(frames) + ": " +
                        (result == AVERROR_EOF ? "the file ends early" : "the container is damaged") +
                        (lastPacketTimeUs >= 0 ? " after the packet at " + secondsText(lastPacketTimeUs) +
                                 (lastPacketByte >= 0 ? " (byte " + std::to_string(lastPacketByte) + ")" : "")
                                               : std::string(" before the first packet")) +
                        ": " + error,
                    lastPacketByte >= 0 ? lastPacketByte : 0);
            }
            if (result == AVERROR_EOF) {
                avcodec_send_packet(codec, nullptr);
                draining = true;
                return false;
            }
            if (result < 0) {
                const int64_t byte = format->pb ? avio_tell(format->pb) : -1;
                fail("reading the container after " + std::to_string(frames) + " frames" +
                     (byte >= 0 ? " (at byte " + std::to_string(byte) + ")" : std::string()) + ": " +
                     errorText(result));
            }
            if (packet->stream_index != stream->index) {
                av_packet_unref(packet);
                continue;
            }
            const int64_t timeUs = packet->pts != AV_NOPTS_VALUE ? toUs(packet->pts)
                : packet->dts != AV_NOPTS_VALUE                  ? toUs(packet->dts)
                                                                 : -1;
            lastPacketTimeUs = timeUs;
            lastPacketByte = packet->pos;
            if ((packet->flags & AV_PKT_FLAG_CORRUPT) != 0) {
                const int size = packet->size;
                av_packet_unref(packet);
                fail(where(frames, timeUs, lastPacketByte) + ": the packet of " + std::to_string(size) +
                     " bytes is damaged or cut short");
            }
            const int sent = avcodec_send_packet(codec, packet);
            av_packet_unref(packet);
            ++packets;
            if (sent < 0 && sent != AVERROR(EAGAIN))
                fail(where(frames, timeUs, lastPacketByte) + ": the packet does not decode: " + errorText(sent));
            return true;
        }
    }

    bool next(DecodedFrame& out, bool convert)
    {
        for (;;) {
            const int result = avcodec_receive_frame(codec, frame);
            if (result == AVERROR_EOF)
                return false;
            if (result == AVERROR(EAGAIN)) {
                if (draining)
                    return false;
                feed();
                continue;
            }
            if (result < 0)
                fail(where(frames, lastPacketTimeUs, lastPacketByte) + ": does not decode: " + errorText(result));
            break;
        }
        if (const std::string error = errors.take(); !error.empty()) {
            const int64_t timeUs =
                frame->best_effort_timestamp != AV_NOPTS_VALUE ? toUs(frame->best_effort_timestamp) : lastPacketTimeUs;
            const int64_t byte = frame->pkt_pos;
            av_frame_unref(frame);
            fail(where(frames, timeUs, byte) + ": the decoder reports damage: " + error);
        }
        // The frame's own packet position (deprecated in later FFmpeg; part of 5.1).
        const int64_t byte = frame->pkt_pos;
        int64_t timeUs = -1;
        if (frame->best_effort_timestamp != AV_NOPTS_VALUE)
            timeUs = toUs(frame->best_effort_timestamp);
        else if (frame->pts != AV_NOPTS_VALUE)
            timeUs = toUs(frame->pts);
        if (timeUs < 0 && frames > 0)
            timeUs = lastTimeUs + (info.frameRate > 0 ? static_cast<int64_t>(1e6 / info.frameRate) : 0);
        if (timeUs < 0)
            timeUs = 0;
        if (frame->decode_error_flags != 0 || (frame->flags & AV_FRAME_FLAG_CORRUPT) != 0) {
            av_frame_unref(frame);
            fail(where(frames, timeUs, byte) + ": the decoder found the frame damaged");
        }
        const auto width = static_cast<uint32_t>(frame->width);
        const auto height = static_cast<uint32_t>(frame->height);
        if (frames == 0 && (info.width != width || info.height != height)) {
            checkGeometry(width, height);
            info.width = width;
            info.height = height;
        } else if (width != info.width || height != info.height) {
            av_frame_unref(frame);
            fail(where(frames, timeUs, byte) + ": " + std::to_string(width) + "x" + std::to_string(height) +
                 " pixels after frames of " + std::to_string(info.width) + "x" + std::to_string(info.height));
        }
        if (frames == 0) {
            const char* pixelName = av_get_pix_fmt_name(static_cast<AVPixelFormat>(frame->format));
            info.sourcePixels = pixelName ? pixelName : "unknown";
        }
        out.index = frames;
        out.timeUs = timeUs;
        out.packetByte = byte;
        out.packetBytes = frame->pkt_size;
        if (convert)
            convertInto(out);
        av_frame_unref(frame);
        lastTimeUs = timeUs;
        ++frames;
        return true;
    }

    void convertInto(DecodedFrame& out)
    {
        const size_t line = size_t{ info.width } * layout->bytesPerPixel;
        const size_t stride = (line + kLineAlign - 1) / kLineAlign * kLineAlign;
        out.stride = stride;
        out.pixels.resize(stride * info.height + kSlackBytes);
        // Repeatable: the same decoded frame gives the same bytes, which the
        // unit's checksum relies on. The conversion FFmpeg
        // itself makes (no full-chroma interpolation, no accurate rounding):
        // those take the converter off its fast paths, at five times the cost.
        scaler = sws_getCachedContext(scaler, frame->width, frame->height, static_cast<AVPixelFormat>(frame->format),
                                      frame->width, frame->height, avFormatOf(layout->format),
                                      SWS_BILINEAR | SWS_BITEXACT, nullptr, nullptr, nullptr);
        if (!scaler)
            fail(where(frames, lastTimeUs, frame->pkt_pos) + ": FFmpeg cannot convert " + info.sourcePixels + " to " +
                 std::string(layout->name));
        uint8_t* planes[4] = { out.pixels.data(), nullptr, nullptr, nullptr };
        int strides[4] = { static_cast<int>(stride), 0, 0, 0 };
        const int lines = sws_scale(scaler, frame->data, frame->linesize, 0, frame->height, planes, strides);
        if (lines != frame->height)
            fail(where(frames, lastTimeUs, frame->pkt_pos) + ": conversion to " + std::string(layout->name) + " gave " +
                 std::to_string(lines) + " of " + std::to_string(frame->height) + " lines");
    }
};

VideoDecoder::VideoDecoder(const std::string& path, const VideoChoice& choice) : state_(std::make_unique<State>())
{
    state_->name = path;
    state_->choice = choice;
    state_->layout = &pixelLayout(choice.pixels);
    state_->open(path);
}

VideoDecoder::VideoDecoder(std::span<const uint8_t> bytes, const std::string& name, const VideoChoice& choice)
    : state_(std::make_unique<State>())
{
    state_->name = name;
    state_->choice = choice;
    state_->layout = &pixelLayout(choice.pixels);
    // An empty span still counts as memory input.
    static const uint8_t kNone = 0;
    state_->memory.bytes = bytes.data() ? bytes : std::span<const uint8_t>(&kNone, 0);
    state_->open(name);
}

VideoDecoder::~VideoDecoder() = default;

const VideoStreamInfo& VideoDecoder::info() const
{
    return state_->info;
}

const PixelLayout& VideoDecoder::layout() const
{
    return *state_->layout;
}

uint32_t VideoDecoder::lineBytes() const
{
    return state_->info.width * state_->layout->bytesPerPixel;
}

bool VideoDecoder::next(DecodedFrame& frame, bool convert)
{
    return state_->next(frame, convert);
}

void quietLibraryLog()
{
    static std::once_flag once;
    std::call_once(once, [] {
        av_log_set_level(AV_LOG_ERROR);
        av_log_set_callback(&logCallback);
    });
}

VideoProbe probeVideoFile(const std::string& path)
{
    quietLibraryLog();
    t_lastLibraryError.clear();
    VideoProbe probe;
    AVFormatContext* format = nullptr;
    const int result = avformat_open_input(&format, path.c_str(), nullptr, nullptr);
    if (result < 0) {
        // A container's reader that gave up says why in its log; bytes no
        // reader took leave none.
        if (!t_lastLibraryError.empty())
            probe.problem = "FFmpeg cannot read it as a video: " + errorText(result);
        t_lastLibraryError.clear();
        return probe;
    }
    const int found = avformat_find_stream_info(format, nullptr);
    probe.video = found >= 0 && av_find_best_stream(format, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0) >= 0;
    if (found < 0)
        probe.problem = std::string("FFmpeg cannot read the streams of this ") + format->iformat->name +
            " file: " + errorText(found);
    else if (!probe.video && format->nb_streams > 0)
        probe.problem = std::string("a ") + format->iformat->name + " file without a video stream (" +
            std::to_string(format->nb_streams) + " streams of other kinds)";
    avformat_close_input(&format);
    t_lastLibraryError.clear();
    return probe;
}

} // namespace qir::video
