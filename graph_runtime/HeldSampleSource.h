// HeldSampleSource.h - a connection's view of an output's FIFO that knows
// whether its reader holds a sample.
#pragma once

#include "abi/KOVASampleSource.h"

#include <atomic>
#include <cstdint>

namespace host {

/// Stands between one input and the output it reads: every call goes to the
/// output unchanged, and the elements the input's reader took and has not
/// released are counted. A component that holds a sample is working on it
/// (sending it, or resting until it can), even when its FIFO is empty; one
/// that waits for its next sample holds none, since reading the next one
/// releases the last first.
///
/// Thread-safe, like the output it stands for.
class HeldSampleSource final : public KOVASampleSource {
public:
    /// `source` must outlive this object.
    explicit HeldSampleSource(KOVASampleSource& source) : source_(source) { }
    ~HeldSampleSource() = default;
    HeldSampleSource(const HeldSampleSource&) = delete;
    HeldSampleSource& operator=(const HeldSampleSource&) = delete;

    /// True while the reader holds an element it took.
    bool HoldsSample() const { return held_.load(std::memory_order_acquire) > 0; }

    const KOVATypeInfo& SampleType() const noexcept override { return source_.SampleType(); }
    int32_t RegisterReader(int32_t readerKind, int32_t subsampling, KOVATextReceiver& why) noexcept override;
    void UnregisterReader(int32_t reader) noexcept override;
    KOVAReadResult StartReading(int32_t reader, const KOVAStopToken& stop, KOVATextReceiver& why) noexcept override;
    int32_t StopReading(int32_t reader, KOVAIOElt* element, KOVATextReceiver& why) noexcept override;
    int32_t DataAvailable(int32_t reader) noexcept override { return source_.DataAvailable(reader); }
    void WakeReaders() noexcept override { source_.WakeReaders(); }

private:
    KOVASampleSource& source_;
    std::atomic<int32_t> held_{ 0 };
};

} // namespace host
