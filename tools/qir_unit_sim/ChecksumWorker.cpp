#include "ChecksumWorker.h"

#include "Fnv1a64.h"
#include "FrameDigest.h"

#include <pthread.h>
#include <sys/resource.h>
#include <unistd.h>

namespace vxqir::sim {
namespace {

// Below the sender's share, far below the receive threads' (nice -10).
constexpr int CHECKSUM_NICE = 10;
// Spent frame buffers kept: enough for a frame being received, one waiting
// and one hashed per channel of a busy run; more are freed.
constexpr size_t KEPT_FRAME_BUFFERS = 4;

} // namespace

ChecksumWorker::ChecksumWorker(size_t backlogFrames, bool everyFrame)
    : backlogFrames_(backlogFrames == 0 ? 1 : backlogFrames)
    , everyFrame_(everyFrame)
    , frameBuffers_(std::make_shared<FrameBufferPool>(KEPT_FRAME_BUFFERS))
    , results_(256)
{ }

ChecksumWorker::~ChecksumWorker()
{
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    workAvailable_.notify_all();
    spaceOrIdle_.notify_all();
    if (thread_.joinable())
        thread_.join();
}

void ChecksumWorker::addObserver(FrameObserver observer)
{
    observers_.push_back(std::move(observer));
}

void ChecksumWorker::addDigestObserver(DigestObserver observer)
{
    digestObservers_.push_back(std::move(observer));
}

void ChecksumWorker::start()
{
    thread_ = std::thread([this] { run(); });
}

void ChecksumWorker::submit(std::vector<CompletedFrame>& frames)
{
    if (frames.empty())
        return;
    {
        std::unique_lock lock(mutex_);
        for (CompletedFrame& frame : frames) {
            if (everyFrame_) {
                spaceOrIdle_.wait(lock, [&] { return queue_.size() < backlogFrames_ || stopping_; });
            } else if (queue_.size() >= backlogFrames_) {
                ++results_[queue_.front().channel].result.framesNotChecksummed;
                ++handled_;
                // The pool's own lock nests inside mutex_; it never calls back.
                frameBuffers_->give(std::move(queue_.front().bytes));
                queue_.pop_front();
            }
            queue_.push_back(std::move(frame));
            // Notified at once, not after the loop: the next frame may have
            // to wait for room that only the worker can make.
            workAvailable_.notify_one();
        }
    }
    frames.clear();
}

void ChecksumWorker::drain()
{
    drainUntil(0);
}

void ChecksumWorker::drainUntil(uint64_t frames)
{
    std::unique_lock lock(mutex_);
    spaceOrIdle_.wait(lock, [&] { return (handled_ >= frames && queue_.empty() && !busy_) || stopping_; });
}

ChecksumResult ChecksumWorker::counts(uint8_t channel) const
{
    std::lock_guard lock(mutex_);
    ChecksumResult r = results_[channel].result;
    r.lastChecksum.reset();
    return r;
}

ChecksumResult ChecksumWorker::result(uint8_t channel) const
{
    std::unique_lock lock(mutex_);
    ChecksumResult r = results_[channel].result;
    if (r.lastChecksum || !results_[channel].lastFrame)
        return r;
    // The frame is shared, not copied: the worker replaces the pointer when
    // a newer frame is done and never changes a frame it has handed on.
    const std::shared_ptr<const CompletedFrame> frame = results_[channel].lastFrame;
    lock.unlock();
    Fnv1a64 hash;
    hash.update(frame->bytes);
    lock.lock();
    ChannelResults& now = results_[channel];
    if (now.lastFrame == frame) {
        now.result.lastChecksum = hash.value();
        return now.result;
    }
    // A newer frame completed meanwhile: the checksum read belongs with the
    // counts taken before it.
    r.lastChecksum = hash.value();
    return r;
}

void ChecksumWorker::run()
{
    // The receive threads must win when the cores are busy; hashing can
    // catch up later. Lowering one's own priority needs no privilege.
    pthread_setname_np(pthread_self(), "qir-checksum");
    setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), CHECKSUM_NICE);

    std::unique_lock lock(mutex_);
    for (;;) {
        workAvailable_.wait(lock, [&] { return !queue_.empty() || stopping_; });
        if (stopping_)
            return;
        CompletedFrame frame = std::move(queue_.front());
        queue_.pop_front();
        busy_ = true;
        lock.unlock();
        spaceOrIdle_.notify_all();

        const uint64_t digest = frame.digest ? *frame.digest : FrameDigest::of(frame.bytes);
        std::optional<uint64_t> checksum;
        if (!observers_.empty()) {
            Fnv1a64 hash;
            hash.update(frame.bytes);
            checksum = hash.value();
            for (const FrameObserver& observer : observers_)
                observer(frame, *checksum);
        }
        for (const DigestObserver& observer : digestObservers_)
            observer(frame, digest);
        // Whoever drops the last reference (this thread when a newer frame
        // replaces it, or a reader of its checksum) gives its bytes back.
        std::shared_ptr<const CompletedFrame> kept(
            new CompletedFrame(std::move(frame)), [buffers = frameBuffers_](const CompletedFrame* spent) {
                // Made without const just above, so it may be taken apart.
                std::unique_ptr<CompletedFrame> owned(const_cast<CompletedFrame*>(spent));
                buffers->give(std::move(owned->bytes));
            });

        lock.lock();
        ChannelResults& c = results_[kept->channel];
        ChecksumResult& r = c.result;
        ++r.framesChecksummed;
        r.lastChecksum = checksum;
        r.lastDigest = digest;
        r.lastFrameNumber = kept->frameNumber;
        // The frame it replaces is given up after the lock is let go, and
        // before the frame counts as handled: once drain() returns, its
        // buffer is back for the receive path.
        c.lastFrame.swap(kept);
        lock.unlock();
        kept.reset();
        lock.lock();
        ++handled_;
        busy_ = false;
        lock.unlock();
        spaceOrIdle_.notify_all();
        lock.lock();
    }
}

} // namespace vxqir::sim
