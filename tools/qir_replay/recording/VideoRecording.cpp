// Video files: decoded whole once while indexed, for the frame count, the
// presentation times and the checksum of each converted frame as the unit
// receives it (decoding and conversion are deterministic, so the frames
// the player decodes again later give the same bytes).
//
// The index is decoded once per process: a later open of the same file,
// unchanged (OpenOptions::checked is its fingerprint), with the same
// choice, takes the index of a Recording that still holds it.
#include "Recording.h"

#include "FrameChecksum.h"
#include "VideoDecoder.h"

#include <algorithm>
#include <limits>
#include <map>
#include <mutex>

namespace qir::replay {

struct SharedVideoIndex {
    std::vector<FrameEntry> frames;
    std::vector<vxqir::frames::FrameSums> sums;
    qir::video::VideoStreamInfo stream;
    uint32_t width = 0;
    uint32_t height = 0;
    size_t largest = 0;
    std::string damage;
};

namespace {

/// The indexes held by living Recordings, by file fingerprint and choice.
struct SharedIndexes {
    std::mutex mutex;
    std::map<std::string, std::weak_ptr<const SharedVideoIndex>> byKey;
};

SharedIndexes& sharedIndexes()
{
    static SharedIndexes indexes;
    return indexes;
}

std::string indexKey(const std::string& fingerprint, int stream, const qir::video::VideoChoice& choice, bool keepGoing)
{
    return fingerprint + "|" + std::to_string(stream) + "|" + std::to_string(static_cast<int>(choice.pixels)) + "|" +
        std::to_string(choice.maxPixels) + "|" + (keepGoing ? "keep-going" : "");
}

} // namespace

bool Recording::takeCheckedVideoIndex(bool keepGoing)
{
    const std::string fingerprint = files_.front().fingerprint();
    if (checked_.empty() || checked_ != fingerprint)
        return false;
    std::shared_ptr<const SharedVideoIndex> index;
    {
        SharedIndexes& indexes = sharedIndexes();
        std::lock_guard lock(indexes.mutex);
        const auto found = indexes.byKey.find(indexKey(fingerprint, video_.stream, video_, keepGoing));
        if (found != indexes.byKey.end())
            index = found->second.lock();
    }
    if (!index)
        return false;
    frames_ = index->frames;
    videoSums_ = index->sums;
    videoStream_ = index->stream;
    width_ = index->width;
    height_ = index->height;
    largest_ = index->largest;
    damage_ = index->damage;
    videoIndex_ = std::move(index);
    trusted_ = true;
    return true;
}

void Recording::shareVideoIndex(bool keepGoing)
{
    auto index = std::make_shared<SharedVideoIndex>();
    index->frames = frames_;
    index->sums = videoSums_;
    index->stream = videoStream_;
    index->width = width_;
    index->height = height_;
    index->largest = largest_;
    index->damage = damage_;
    SharedIndexes& indexes = sharedIndexes();
    std::lock_guard lock(indexes.mutex);
    std::erase_if(indexes.byKey, [](const auto& entry) { return entry.second.expired(); });
    // Under the stream found as well as the one asked for (-1: the best),
    // as a player names it.
    indexes.byKey[indexKey(files_.front().fingerprint(), videoStream_.stream, video_, keepGoing)] = index;
    indexes.byKey[indexKey(files_.front().fingerprint(), video_.stream, video_, keepGoing)] = index;
    videoIndex_ = std::move(index);
}

void Recording::indexVideo()
{
    std::optional<qir::video::VideoDecoder> decoder;
    try {
        // One frame at a time (its slices on every thread): damage is found
        // at the same frame every time.
        qir::video::VideoChoice frameByFrame = video_;
        frameByFrame.decoderThreads = 0;
        frameByFrame.frameThreads = false;
        decoder.emplace(path_, frameByFrame);
    } catch (const qir::video::VideoError& error) {
        throw RecordingError(error.what());
    }
    videoStream_ = decoder->info();
    const size_t fileSize = fileBytes().size();
    qir::video::DecodedFrame frame;
    int64_t shiftUs = 0; // times before 0 (an edit list) start at 0
    size_t readUpTo = 0;
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
        // Packets of reordered frames lie out of order: the farthest so far.
        readUpTo = std::max(readUpTo, offset + size);
        reportProgress(readUpTo);
    }
    reportProgress(fileSize);
    if (frames_.empty())
        throw RecordingError(path_ + ": video stream " + std::to_string(videoStream_.stream) + " (" +
                             videoStream_.codec + ") holds no frame that decodes");
}

} // namespace qir::replay
