// Reader side of the sample FIFO: which element each kind of reader gets.
#include "fifo/KOVAFastIO.h"

#include <string>

namespace {

std::string readerText(int32_t reader)
{
    return std::to_string(reader >= 0 && reader < 32 ? (1u << reader) : 0u);
}

} // namespace

KOVAFastIOElt* KOVAFastIO::NewestReadable() const
{
    for (KOVAFastIOElt* node = head_; node; node = node->older) {
        if (node->IsReadable())
            return node;
    }
    return nullptr;
}

KOVAFastIOElt* KOVAFastIO::LastConsumed(const KOVAFastIOElt* from, uint32_t bit) const
{
    for (auto* node = const_cast<KOVAFastIOElt*>(from); node; node = node->older) {
        if (node->readMask & bit)
            return node;
    }
    return nullptr;
}

void KOVAFastIO::MarkConsumed(KOVAFastIOElt* node, uint32_t bit)
{
    node->readMask |= bit;
    if ((node->readMask & fifoMask_) == fifoMask_)
        consumedEvent_ = true;
    WriterMayProceed();
}

KOVAIOElt* KOVAFastIO::Take(KOVAFastIOElt* node, uint32_t bit, bool fifoStyle)
{
    node->readingMask |= bit;
    if (fifoStyle)
        node->readMask |= bit;
    node->state = KOVAFastIOElt::Reading;
    return node->element;
}

KOVAIOElt* KOVAFastIO::TryFifoStyle(int32_t reader)
{
    const uint32_t bit = 1u << reader;
    KOVAFastIOElt* newest = NewestReadable();
    if (!newest)
        return nullptr;
    KOVAFastIOElt* last = LastConsumed(newest, bit);
    if (last == newest)
        return nullptr;
    // Readable elements newer than the last consumed one, oldest first.
    KOVAFastIOElt* first = last ? last->newer : tail_;

    if (lastOrNextMask_ & bit) {
        for (KOVAFastIOElt* node = first; node && node != newest; node = node->newer) {
            if (node->IsReadable())
                MarkConsumed(node, bit);
        }
        return Take(newest, bit, true);
    }
    for (KOVAFastIOElt* node = first; node; node = node->newer) {
        if (!node->IsReadable())
            continue;
        if (skipRemaining_[reader] > 0) {
            --skipRemaining_[reader];
            MarkConsumed(node, bit);
            continue;
        }
        skipRemaining_[reader] = subsampling_[reader] - 1;
        return Take(node, bit, true);
    }
    return nullptr;
}

KOVAIOElt* KOVAFastIO::TryLocked(int32_t reader, bool afterWait)
{
    if (reader < 0 || reader > 31 || !(registeredMask_ & (1u << reader))) {
        throw KOVAFifoFault{ KOVA::ErrorException,
                             "KOVAFastIO fatal error : KOVAFastIO monitor has no space where "
                             "to read (X" +
                                 readerText(reader) + "). Please contact the technical support team." };
    }
    const uint32_t bit = 1u << reader;
    if (fifoMask_ & bit)
        return TryFifoStyle(reader);
    if (samplingKind_[reader] == KOVA::Wait4NextReader && !afterWait)
        return nullptr;
    KOVAFastIOElt* newest = NewestReadable();
    return newest ? Take(newest, bit, false) : nullptr;
}

KOVAIOElt* KOVAFastIO::TryStartReading(int32_t reader)
{
    const Lock lock(mutex_);
    return TryLocked(reader, false);
}

KOVAIOElt* KOVAFastIO::StartReading(int32_t reader, const KOVAStopToken& stop)
{
    Lock lock(mutex_);
    if (KOVAIOElt* element = TryLocked(reader, false))
        return element;
    const bool fifoStyle = (fifoMask_ & (1u << reader)) != 0;
    // Wait for a publication, then choose again. An element published and
    // overwritten again before this reader ran leaves nothing to take: wait
    // for the next publication rather than fail. Only a reader that lost its
    // registration while it waited cannot find its data any more.
    for (;;) {
        if (!(registeredMask_ & (1u << reader))) {
            throw KOVAFifoFault{ KOVA::ErrorException,
                                 std::string("KOVAFastIO fatal error : ") +
                                     (fifoStyle ? "Trouble with a FIFO reader. Couldn't find its data (X"
                                                : "Trouble with a sampling reader. Couldn't find its data (X") +
                                     readerText(reader) + "). Please contact the technical support team." };
        }
        const uint64_t seen = publications_;
        SpinBeforeWait(lock, publishedSignal_, seen, stop);
        if (publications_ != seen && !stop.StopRequested() && (registeredMask_ & (1u << reader))) {
            if (KOVAIOElt* element = TryLocked(reader, true))
                return element;
            continue;
        }
        ++readersWaiting_;
        readerCondition_.wait(
            lock, [&] { return publications_ != seen || stop.StopRequested() || !(registeredMask_ & (1u << reader)); });
        --readersWaiting_;
        if (stop.StopRequested())
            throw KOVAFifoFault{ KOVA::ModuleDied, {} };
        if (!(registeredMask_ & (1u << reader)))
            continue;
        if (KOVAIOElt* element = TryLocked(reader, true))
            return element;
    }
}

void KOVAFastIO::StopReading(int32_t reader, KOVAIOElt* element)
{
    const Lock lock(mutex_);
    const uint32_t bit = reader >= 0 && reader < 32 ? 1u << reader : 0u;
    KOVAFastIOElt* node = FindNode(element);
    if (!node || bit == 0 || !(node->readingMask & bit)) {
        throw KOVAFifoFault{ KOVA::ErrorException,
                             "KOVAFastIO fatal error : Stop reading without starting (X" + readerText(reader) +
                                 "). Please contact the technical support team." };
    }
    node->readingMask &= ~bit;
    if (node->readingMask == 0)
        node->state = KOVAFastIOElt::Published;
    if (fifoMask_ & bit) {
        if ((node->readMask & fifoMask_) == fifoMask_)
            consumedEvent_ = true;
    }
    // The element may now be free for a waiting writer (every never-skipping
    // reader may have consumed it even while a plain reader still lags).
    WriterMayProceed();
}

int32_t KOVAFastIO::DataAvailableInFIFO(int32_t reader)
{
    const Lock lock(mutex_);
    if (reader < 0 || reader > 31 || !(registeredMask_ & (1u << reader)))
        return 0;
    const uint32_t bit = 1u << reader;
    KOVAFastIOElt* newest = NewestReadable();
    if (!newest)
        return 0;
    if (!(fifoMask_ & bit))
        return 1;
    return LastConsumed(newest, bit) != newest ? 1 : 0;
}

void KOVAFastIO::WakeReaders()
{
    // Taking the mutex orders the caller's stop flag before a reader's check.
    const Lock lock(mutex_);
    readerCondition_.notify_all();
}
