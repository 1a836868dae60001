#include "ChecksumWorker.h"

#include "Fnv1a64.h"

#include <pthread.h>
#include <pthread.h>
#include <sys/resource.h>
#include <unistd.h>

namespace vxqir::sim {
namespace {

// Below the sender's share, far below the receive threads' (nice -10).
constexpr int CHECKSUM_NICE = 10;

} // namespace

ChecksumWorker::ChecksumWorker(size_t backlogFrames, bool everyFrame)
    : backlogFrames_(backlogFrames == 0 ? 1 : backlogFrames)
    , everyFrame_(everyFrame)
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
                ++results_[queue_.front().channel].framesNotChecksummed;
                ++handled_;
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

ChecksumResult ChecksumWorker::result(uint8_t channel) const
{
    std::lock_guard lock(mutex_);
    return results_[channel];
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

        Fnv1a64 hash;
        hash.update(frame.bytes);
        for (const FrameObserver& observer : observers_)
            observer(frame, hash.value());

        lock.lock();
        ChecksumResult& r = results_[frame.channel];
        ++r.framesChecksummed;
        r.lastChecksum = hash.value();
        r.lastFrameNumber = frame.frameNumber;
        ++handled_;
        busy_ = false;
        spaceOrIdle_.notify_all();
    }
}

} // namespace vxqir::sim
