// Reading side of an output's sample FIFO, as an input of any binary sees
// it. The output implements it; an input calls it. Nothing raised inside the
// output's binary crosses this interface: failures come back as codes, with
// their text handed to the caller's receiver.
#pragma once

#include "abi/KOVAIOElt.h"
#include "abi/KOVAStopToken.h"
#include "abi/KOVATextReceiver.h"
#include "abi/KOVATypeInfo.h"

/// Result of StartReading: an element, or none with the reason in `code`
/// (KOVA::ModuleDied when the reader's component is stopped,
/// KOVA::ErrorException on a fatal FIFO error).
struct KOVAReadResult {
    KOVAIOElt* element;
    int32_t code;
};

/// Thread-safe: every function may be called from any thread.
class KOVASampleSource {
public:
    /// Type of the samples.
    virtual const KOVATypeInfo& SampleType() const noexcept = 0;

    /// Registers a reader of `readerKind` (KOVA::FifoReader ..
    /// KOVA::SamplingReader) taking every `subsampling`-th element (FIFO-style
    /// readers). Returns the reader's bit number 0..31, or -1 with the reason
    /// in `why` (every bit taken, bad kind or rate).
    virtual int32_t RegisterReader(int32_t readerKind, int32_t subsampling, KOVATextReceiver& why) noexcept = 0;
    /// Forgets a reader; an element it still holds is released.
    virtual void UnregisterReader(int32_t reader) noexcept = 0;

    /// Blocks until the reader's next element is there (per its kind) and
    /// returns it held by the reader, or returns no element: with
    /// KOVA::ModuleDied once `stop` says so, or with KOVA::ErrorException and
    /// the fatal error text in `why`.
    virtual KOVAReadResult StartReading(int32_t reader, const KOVAStopToken& stop, KOVATextReceiver& why) noexcept = 0;
    /// Releases an element taken by StartReading. Returns KOVA::NoError, or
    /// KOVA::ErrorException with the text in `why`.
    virtual int32_t StopReading(int32_t reader, KOVAIOElt* element, KOVATextReceiver& why) noexcept = 0;
    /// 1 when StartReading would return at once with an element, else 0.
    virtual int32_t DataAvailable(int32_t reader) noexcept = 0;
    /// Wakes every reader waiting in StartReading so that it checks its stop
    /// token again.
    virtual void WakeReaders() noexcept = 0;

protected:
    ~KOVASampleSource() = default;
};
