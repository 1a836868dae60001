// Video files: decoded whole once while indexed, for the frame count, the
// presentation times and the checksum of each converted frame as the unit
// receives it (decoding and conversion are deterministic, so the frames
// the player decodes again later give the same bytes).
#include "Recording.h"

#include "FrameChecksum.h"
#include "VideoDecoder.h"

#include <algorithm>
#include <limits>

namespace qir::replay {

void Recording::indexVideo()
{
    std::optional<qir::video::VideoDecoder> decoder;
    try {
        // One thread: damage is found at the same frame every time.
        qir::video::VideoChoice oneThread = video_;
        oneThread.decoderThreads = 1;
        decoder.emplace(path_, oneThread);
    } catch (const qir::video::VideoError& error) {
        throw RecordingError(error.what());
    }
    videoStream_ = decoder->info();
    const size_t fileSize = fileBytes().size();
    qir::video::DecodedFrame frame;
    int64_t shiftUs = 0; // times before 0 (an edit list) start at 0
    for (;;) {
        checkInterrupted();
        try {
            if (!decoder->next(frame))
                break;
        } catch (const qir::video::VideoError& error) {
            videoStream_ = decoder->info();
            // Frames whose packets may hold the start of the damage are not
            // kept (with keepGoing the frames before it replay).
            while (error.damageFromByte() >= 0 && !frames_.empty() &&
                   frames_.back().offset >= static_cast<uint64_t>(error.damageFromByte())) {
                frames_.pop_back();
                videoSums_.pop_back();
            }
            throw RecordingError(error.what());
        }
        if (frames_.empty()) {
            videoStream_ = decoder->info();
            width_ = videoStream_.width;
            height_ = videoStream_.height;
            largest_ = size_t{ lineBytes() } * height_;
            shiftUs = frame.timeUs < 0 ? -frame.timeUs : 0;
        }
        vxqir::frames::FrameSumsHasher sum;
        const size_t line = lineBytes();
        for (uint32_t row = 0; row < height_; ++row)
            sum.update(std::span<const uint8_t>(frame.pixels).subspan(row * frame.stride, line));
        const size_t offset = std::min<size_t>(static_cast<size_t>(std::max<int64_t>(frame.packetByte, 0)), fileSize);
        const size_t size =
            std::min<size_t>(static_cast<size_t>(std::max<int64_t>(frame.packetBytes, 0)), fileSize - offset);
        frames_.push_back({ offset, size, static_cast<uint64_t>(std::max<int64_t>(frame.timeUs + shiftUs, 0)) });
        videoSums_.push_back(sum.value());
    }
    if (frames_.empty())
        throw RecordingError(path_ + ": video stream " + std::to_string(videoStream_.stream) + " (" +
                             videoStream_.codec + ") holds no frame that decodes");
}

} // namespace qir::replay
