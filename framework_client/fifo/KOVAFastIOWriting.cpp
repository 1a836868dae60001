// Writer side of the sample FIFO.
#include "fifo/KOVAFastIO.h"

#include "threads/KOVADeadline.h"

#include <chrono>
#include <optional>

namespace {
const char* const kNoSpaceText =
    "Output buffer fatal error : StartWriting has no space where to write. Check that each call to "
    "StartWriting has its corresponding call to StopWriting.";
} // namespace

void KOVAFastIO::CallOverflow()
{
    ++overflows_;
    if (overflow_)
        overflow_(overflowArgument_);
}

void KOVAFastIO::WriterMayProceed()
{
    neverSkippingEvent_ = true;
    consumedSignal_.fetch_add(1, std::memory_order_release);
    if (writersWaiting_ > 0)
        writerCondition_.notify_all();
}

KOVAIOElt* KOVAFastIO::StartWriting(std::mutex* release, const KOVAStopToken& stop)
{
    Lock lock(mutex_);
    if (release)
        release->unlock();
    // The time-out bounds the whole call, however often the writer wakes.
    std::optional<KOVADeadline> deadline;
    for (;;) {
        KOVAFastIOElt* candidate = nullptr;
        for (KOVAFastIOElt* node = tail_; node; node = node->newer) {
            if (node->state == KOVAFastIOElt::Published || node->state == KOVAFastIOElt::Withheld) {
                candidate = node;
                break;
            }
        }
        if (!candidate) {
            CallOverflow();
            throw KOVAFifoFault{ KOVA::ErrorException, kNoSpaceText };
        }
        bool take = candidate->state == KOVAFastIOElt::Withheld || (candidate->readMask & fifoMask_) == fifoMask_;
        if (!take && (candidate->readMask & neverSkippingMask_) == neverSkippingMask_) {
            // Only plain FIFO or last-or-next readers miss this element.
            CallOverflow();
            take = true;
        }
        if (take) {
            candidate->state = KOVAFastIOElt::Writing;
            return candidate->element;
        }

        // A never-skipping reader still owes the oldest element: wait.
        neverSkippingEvent_ = false;
        releaseEvent_ = false;
        if (!deadline)
            deadline = KOVADeadline::AfterUs(writerTimeoutUs_);
        if (deadline->Passed())
            throw KOVAFifoFault{ KOVA::TimeOut, {} };
        const uint64_t seen = consumedSignal_.load(std::memory_order_relaxed);
        SpinBeforeWait(lock, consumedSignal_, seen, stop);
        if (consumedSignal_.load(std::memory_order_relaxed) != seen && !stop.StopRequested())
            continue; // look again from the oldest element
        ++writersWaiting_;
        auto woken = [&] { return neverSkippingEvent_ || releaseEvent_ || stop.StopRequested(); };
        const bool signalled = deadline->WaitUntil(writerCondition_, lock, woken);
        --writersWaiting_;
        if (stop.StopRequested())
            throw KOVAFifoFault{ KOVA::ModuleDied, {} };
        if (releaseEvent_)
            return nullptr;
        if (!signalled)
            throw KOVAFifoFault{ KOVA::TimeOut, {} };
    }
}

void KOVAFastIO::StopWriting(KOVAIOElt* element, bool discard)
{
    const Lock lock(mutex_);
    KOVAFastIOElt* node = FindNode(element);
    if (!node || node->state != KOVAFastIOElt::Writing) {
        throw KOVAFifoFault{ KOVA::ErrorException,
                             "Output buffer fatal error : StopWriting was called for an element that "
                             "StartWriting did not hand out." };
    }
    if (discard || --pendingWriters_ > 0) {
        node->state = KOVAFastIOElt::Withheld;
        return;
    }
    pendingWriters_ = writers_;
    if (nodes_.size() > 1)
        MoveToHead(node);
    node->state = KOVAFastIOElt::Published;
    node->readMask = 0;
    node->readingMask = 0;
    ++publications_;
    publishedSignal_.store(publications_, std::memory_order_release);
    if (readersWaiting_ > 0)
        readerCondition_.notify_all();
}

void KOVAFastIO::SetWriterCount(int32_t writers)
{
    const Lock lock(mutex_);
    writers_ = writers < 1 ? 1 : writers;
    pendingWriters_ = writers_;
}

void KOVAFastIO::SetWriterTimeout(KOVATimestamp timeoutUs)
{
    const Lock lock(mutex_);
    writerTimeoutUs_ = timeoutUs < 0 ? KOVA::Infinite : timeoutUs;
}

void KOVAFastIO::SetOverflowCallback(OverflowCallback callback, void* argument)
{
    const Lock lock(mutex_);
    overflow_ = callback;
    overflowArgument_ = argument;
}

void KOVAFastIO::ReleaseWriters()
{
    const Lock lock(mutex_);
    releaseEvent_ = true;
    writerCondition_.notify_all();
}

void KOVAFastIO::WakeWriters()
{
    // Taking the mutex orders the caller's stop flag before a writer's check.
    const Lock lock(mutex_);
    writerCondition_.notify_all();
}
