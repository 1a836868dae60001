#include "VideoFrameQueue.h"

#include <utility>

namespace qir::video {

VideoFrameQueue::VideoFrameQueue(std::string path, VideoChoice choice, uint64_t first, uint64_t end, size_t capacity)
    : path_(std::move(path))
    , choice_(choice)
    , first_(first)
    , end_(end)
    , capacity_(capacity == 0 ? 1 : capacity)
    , thread_([this] { run(); })
{ }

VideoFrameQueue::~VideoFrameQueue()
{
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

std::unique_ptr<DecodedFrame> VideoFrameQueue::freeBuffer()
{
    std::lock_guard lock(mutex_);
    if (free_.empty())
        return std::make_unique<DecodedFrame>();
    auto frame = std::move(free_.back());
    free_.pop_back();
    return frame;
}

bool VideoFrameQueue::push(std::unique_ptr<DecodedFrame> frame)
{
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return stop_ || ready_.size() < capacity_; });
    if (stop_)
        return false;
    ready_.push_back(std::move(frame));
    ++decoded_;
    lock.unlock();
    changed_.notify_all();
    return true;
}

void VideoFrameQueue::run()
{
    try {
        for (;;) {
            VideoDecoder decoder(path_, choice_);
            for (uint64_t index = 0; index < end_; ++index) {
                {
                    std::lock_guard lock(mutex_);
                    if (stop_)
                        return;
                }
                auto frame = freeBuffer();
                // Frames before the first are decoded (the codec needs them)
                // but not converted.
                if (!decoder.next(*frame, index >= first_))
                    throw VideoError(path_ + ": the file ended after " + std::to_string(index) + " frames, " +
                                     std::to_string(end_) + " were found when it was opened (it changed since)");
                if (index < first_) {
                    recycle(std::move(frame));
                    continue;
                }
                if (!push(std::move(frame)))
                    return;
            }
        }
    } catch (const std::exception& error) {
        {
            std::lock_guard lock(mutex_);
            error_ = error.what();
        }
        changed_.notify_all();
    }
}

std::unique_ptr<DecodedFrame> VideoFrameQueue::take(std::chrono::microseconds wait)
{
    std::unique_lock lock(mutex_);
    if (ready_.empty() && !error_ && taken_ > 0)
        ++emptyTakes_;
    changed_.wait_for(lock, wait, [this] { return !ready_.empty() || error_.has_value(); });
    if (ready_.empty()) {
        if (error_)
            throw VideoError(*error_);
        return nullptr;
    }
    auto frame = std::move(ready_.front());
    ready_.pop_front();
    ++taken_;
    lock.unlock();
    changed_.notify_all();
    return frame;
}

void VideoFrameQueue::recycle(std::unique_ptr<DecodedFrame> frame)
{
    if (!frame)
        return;
    std::lock_guard lock(mutex_);
    // A few spare buffers: as many as can wait, and the one being filled.
    if (free_.size() <= capacity_)
        free_.push_back(std::move(frame));
}

uint64_t VideoFrameQueue::emptyTakes() const
{
    std::lock_guard lock(mutex_);
    return emptyTakes_;
}

uint64_t VideoFrameQueue::framesDecoded() const
{
    std::lock_guard lock(mutex_);
    return decoded_;
}

} // namespace qir::video
