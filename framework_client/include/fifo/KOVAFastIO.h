// The sample FIFO of one output: a ring of I/O elements handed from the
// writer(s) to each connected reader according to the reader's kind.
#pragma once

#include "abi/KOVAConstants.h"
#include "abi/KOVAIOElt.h"
#include "abi/KOVAStopToken.h"
#include "fifo/KOVAFastIOElt.h"
#include "fifo/KOVAFifoFault.h"

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <span>
#include <vector>

/// Elements form a list from the newest (head) to the oldest (tail). A writer
/// takes the oldest element that is free (published or withheld) and
/// publishes it at the head. Readers are bits 0..31:
///  - FifoReader (0): reads every element in order, but a writer overwrites
///    elements it has not consumed yet (the overflow callback is called);
///  - NeverSkippingReader (1): reads every element in order; a writer waits
///    for it rather than overwrite an element it has not consumed;
///  - LastOrNextReader (2): takes the newest element, marking the older new
///    ones as consumed;
///  - Wait4NextReader (3): waits for the next publication and takes it;
///  - SamplingReader (4): takes the newest element at once, again and again,
///    waiting only while nothing is readable.
/// Kinds 0 to 2 are FIFO-style (they consume), 3 and 4 sampling-style.
///
/// Errors are raised as KOVAFifoFault: KOVA::ModuleDied when a wait sees its
/// stop token, KOVA::TimeOut when a writer waited too long, and
/// KOVA::ErrorException with the text of a fatal error.
///
/// Thread-safe: every function may be called from any thread; the mutex is
/// held only to inspect or change the list and masks, and released while a
/// call waits. SetElements and ClearElements only while no element is held.
class KOVAFastIO {
public:
    using OverflowCallback = void (*)(void* argument);

    KOVAFastIO() = default;
    KOVAFastIO(const KOVAFastIO&) = delete;
    KOVAFastIO& operator=(const KOVAFastIO&) = delete;

    /// Makes `elements` (not owned, at least one) the ring; every element
    /// starts unpublished. Reader registrations are kept.
    void SetElements(std::span<KOVAIOElt* const> elements);
    /// Empties the ring; StartWriting then fails, readers find nothing.
    void ClearElements();
    size_t Size() const;

    // --- writing -------------------------------------------------------

    /// Returns a free element in state Writing (see the class comment for
    /// which one), waiting while the oldest free element is still owed to a
    /// never-skipping reader. `release`, when given, is unlocked once the
    /// FIFO mutex is held. Returns null when ReleaseWriters ends the wait.
    /// Raises ModuleDied when `stop` is set during a wait, TimeOut after the
    /// writer time-out, and ErrorException ("Output buffer fatal error :
    /// StartWriting has no space where to write. ...") when every element is
    /// being written or read. The overflow callback runs under the FIFO
    /// mutex and must not call the FIFO.
    KOVAIOElt* StartWriting(std::mutex* release, const KOVAStopToken& stop);
    /// Publishes `element` at the head once every writer has finished it;
    /// with `discard`, or while other writers are pending, it stays
    /// unpublished and the next StartWriting reuses it. Raises ErrorException
    /// for an element that is not being written.
    void StopWriting(KOVAIOElt* element, bool discard);
    /// Number of writers that must finish an element before it is published
    /// (at least 1).
    void SetWriterCount(int32_t writers);
    /// How long StartWriting waits, microseconds; KOVA::Infinite (the
    /// default) waits without limit.
    void SetWriterTimeout(KOVATimestamp timeoutUs);
    void SetOverflowCallback(OverflowCallback callback, void* argument);
    /// Sets the release event: a waiting StartWriting returns null.
    void ReleaseWriters();
    /// Wakes waiting writers so that they look at their stop token again.
    void WakeWriters();

    // --- readers -------------------------------------------------------

    /// Registers a reader of `kind` and returns its bit number. Raises
    /// ErrorException when all 32 bits are taken or the kind or rate is bad.
    int32_t RegisterReader(int32_t kind, int32_t subsampling = 1);
    /// Forgets a reader; an element it holds is released. No effect for an
    /// unregistered reader.
    void UnregisterReader(int32_t reader);
    /// Changes a registered FIFO-style reader between kinds 0, 1 and 2.
    void SetReaderType(int32_t reader, int32_t kind);
    /// A FIFO-style reader with rate n takes one element and skips
    /// (consumes without taking) the next n - 1. Rate 1 to 256.
    void SetSubsamplingRate(int32_t reader, int32_t rate);

    /// Takes the reader's next element when one is there, else returns null
    /// (a Wait4NextReader always gets null here). Never waits.
    KOVAIOElt* TryStartReading(int32_t reader);
    /// Like TryStartReading, but waits for a publication while nothing is
    /// there (a Wait4NextReader always waits for the next one). Raises
    /// ModuleDied once `stop` is set while waiting.
    KOVAIOElt* StartReading(int32_t reader, const KOVAStopToken& stop);
    /// Releases an element the reader took. Raises ErrorException ("KOVAFastIO
    /// fatal error : Stop reading without starting (X...") when it does not
    /// hold it.
    void StopReading(int32_t reader, KOVAIOElt* element);
    /// 1 when the reader would get an element at once, else 0 (for sampling
    /// readers: when any element is readable).
    int32_t DataAvailableInFIFO(int32_t reader);
    /// Wakes waiting readers so that they look at their stop token again.
    void WakeReaders();

    // --- statistics ----------------------------------------------------
    uint64_t PublishedCount() const;
    uint64_t OverflowCount() const;

private:
    using Lock = std::unique_lock<std::mutex>;

    KOVAFastIOElt* FindNode(const KOVAIOElt* element);
    void MoveToHead(KOVAFastIOElt* node);
    void LinkAll();
    void CallOverflow();
    void MarkConsumed(KOVAFastIOElt* node, uint32_t bit);
    void WriterMayProceed();
    void RequireRegistered(int32_t reader, const char* whatFor) const;
    KOVAIOElt* Take(KOVAFastIOElt* node, uint32_t bit, bool fifoStyle);
    KOVAIOElt* TryLocked(int32_t reader, bool afterWait);
    KOVAIOElt* TryFifoStyle(int32_t reader);
    KOVAFastIOElt* NewestReadable() const;
    KOVAFastIOElt* LastConsumed(const KOVAFastIOElt* from, uint32_t bit) const;
    /// Spins a short while, without the mutex, until `signal` moves away
    /// from `seen` or `stop` is set. Called with `lock` held; returns with
    /// it held.
    static void SpinBeforeWait(Lock& lock, const std::atomic<uint64_t>& signal, uint64_t seen,
                               const KOVAStopToken& stop);

    mutable std::mutex mutex_; ///< guards every member below
    std::condition_variable readerCondition_;
    std::condition_variable writerCondition_;

    std::vector<KOVAFastIOElt> nodes_;
    KOVAFastIOElt* head_ = nullptr;
    KOVAFastIOElt* tail_ = nullptr;

    uint32_t registeredMask_ = 0;
    uint32_t fifoMask_ = 0;
    uint32_t neverSkippingMask_ = 0;
    uint32_t lastOrNextMask_ = 0;
    std::array<int32_t, 32> samplingKind_{};  ///< Wait4NextReader or SamplingReader per bit
    std::array<int32_t, 32> subsampling_{};   ///< 1..256 per FIFO-style bit
    std::array<int32_t, 32> skipRemaining_{}; ///< elements still to skip per FIFO-style bit

    int32_t writers_ = 1;
    int32_t pendingWriters_ = 1;
    KOVATimestamp writerTimeoutUs_ = KOVA::Infinite;
    OverflowCallback overflow_ = nullptr;
    void* overflowArgument_ = nullptr;

    // Writer events, set under the mutex: never-skipping (something a waiting
    // writer waits for may have changed) and release.
    bool neverSkippingEvent_ = false;
    bool releaseEvent_ = false;
    bool consumedEvent_ = false;
    int32_t writersWaiting_ = 0;
    int32_t readersWaiting_ = 0;

    uint64_t publications_ = 0; ///< publication counter; readers wait for it to move
    uint64_t overflows_ = 0;

    // Mirrors of "something was published" and "something was consumed",
    // written under the mutex and read without it: a thread about to wait
    // spins on them briefly first, which spares the sleep and wake-up of
    // both threads when the other side is just about to act.
    std::atomic<uint64_t> publishedSignal_{ 0 };
    std::atomic<uint64_t> consumedSignal_{ 0 };
};
