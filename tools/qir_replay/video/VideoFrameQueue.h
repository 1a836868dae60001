// VideoFrameQueue.h - decoding ahead: frames [first, end) of a video file
// decoded and converted on a thread of their own, pass after pass, into a
// small bounded queue, so that a player takes each frame at its time while
// the codec works. Memory stays flat whatever the file's length: at most
// `capacity` frames wait, and their buffers are used again.
#pragma once

#include "VideoDecoder.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace qir::video {

class VideoFrameQueue {
public:
    /// Starts decoding frames [first, end) of `path` (end > first), and
    /// again from `first` after `end`, until destroyed.
    VideoFrameQueue(std::string path, VideoChoice choice, uint64_t first, uint64_t end, size_t capacity = 4);
    /// Stops the decoding thread and waits for it.
    ~VideoFrameQueue();
    VideoFrameQueue(const VideoFrameQueue&) = delete;
    VideoFrameQueue& operator=(const VideoFrameQueue&) = delete;

    /// The next frame in order, waiting at most `wait` for it; nullptr when
    /// none came within the wait. Throws VideoError once the decoder failed
    /// (the frames before the failure are taken first). Thread-safe.
    std::unique_ptr<DecodedFrame> take(std::chrono::microseconds wait);
    /// Hands a taken frame's buffer back for a later frame. Thread-safe.
    void recycle(std::unique_ptr<DecodedFrame> frame);

    /// Takes that found no frame decoded yet, after the first frame: how
    /// often decoding fell behind the player. Thread-safe.
    uint64_t emptyTakes() const;
    /// Frames decoded so far (all passes). Thread-safe.
    uint64_t framesDecoded() const;

private:
    void run();
    /// False when stopped.
    bool push(std::unique_ptr<DecodedFrame> frame);
    std::unique_ptr<DecodedFrame> freeBuffer();

    const std::string path_;
    const VideoChoice choice_;
    const uint64_t first_;
    const uint64_t end_;
    const size_t capacity_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::unique_ptr<DecodedFrame>> ready_;
    std::vector<std::unique_ptr<DecodedFrame>> free_;
    std::optional<std::string> error_;
    bool stop_ = false;
    uint64_t taken_ = 0;
    uint64_t emptyTakes_ = 0;
    uint64_t decoded_ = 0;
    std::thread thread_; ///< last: starts once the rest is built
};

} // namespace qir::video
