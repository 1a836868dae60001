#include "HeldSampleSource.h"

namespace host {

int32_t HeldSampleSource::RegisterReader(int32_t readerKind, int32_t subsampling, KOVATextReceiver& why) noexcept
{
    held_.store(0, std::memory_order_release);
    return source_.RegisterReader(readerKind, subsampling, why);
}

void HeldSampleSource::UnregisterReader(int32_t reader) noexcept
{
    // The output releases what the reader still held.
    source_.UnregisterReader(reader);
    held_.store(0, std::memory_order_release);
}

KOVAReadResult HeldSampleSource::StartReading(int32_t reader, const KOVAStopToken& stop, KOVATextReceiver& why) noexcept
{
    const KOVAReadResult result = source_.StartReading(reader, stop, why);
    if (result.element != nullptr)
        held_.fetch_add(1, std::memory_order_acq_rel);
    return result;
}

int32_t HeldSampleSource::StopReading(int32_t reader, KOVAIOElt* element, KOVATextReceiver& why) noexcept
{
    const int32_t code = source_.StopReading(reader, element, why);
    // Counted as released whatever the code: a failed release is a fatal
    // FIFO error, after which the component is stopped anyway.
    int32_t held = held_.load(std::memory_order_acquire);
    while (held > 0 && !held_.compare_exchange_weak(held, held - 1, std::memory_order_acq_rel)) { }
    return code;
}

} // namespace host
