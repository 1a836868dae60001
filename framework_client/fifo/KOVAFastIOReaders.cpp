// Reader registration and reader kinds of the sample FIFO.
#include "fifo/KOVAFastIO.h"

#include <bit>
#include <string>

int32_t KOVAFastIO::RegisterReader(int32_t kind, int32_t subsampling)
{
    const Lock lock(mutex_);
    if (!KOVA::IsValidReaderKind(kind)) {
        throw KOVAFifoFault{ KOVA::ErrorException,
                             "KOVAFastIO fatal error : unknown reader kind " + std::to_string(kind) + "." };
    }
    if (subsampling < 1 || subsampling > 256) {
        throw KOVAFifoFault{ KOVA::ErrorException,
                             "KOVAFastIO fatal error: Output subsampling rate must be an integer in the range "
                             "between 1 and 256 included." };
    }
    if (registeredMask_ == 0xFFFFFFFFu) {
        throw KOVAFifoFault{ KOVA::ErrorException, "KOVAFastIO fatal error : an output can feed at most 32 inputs." };
    }
    const int32_t reader = std::countr_one(registeredMask_);
    const uint32_t bit = 1u << reader;
    registeredMask_ |= bit;
    fifoMask_ &= ~bit;
    neverSkippingMask_ &= ~bit;
    lastOrNextMask_ &= ~bit;
    if (KOVA::IsFifoStyleReader(kind)) {
        fifoMask_ |= bit;
        if (kind == KOVA::NeverSkippingReader)
            neverSkippingMask_ |= bit;
        if (kind == KOVA::LastOrNextReader)
            lastOrNextMask_ |= bit;
    }
    samplingKind_[reader] = kind;
    subsampling_[reader] = subsampling;
    skipRemaining_[reader] = 0;
    // Elements published before the reader came are left to it like new ones.
    for (auto& node : nodes_) {
        node.readMask &= ~bit;
        node.readingMask &= ~bit;
    }
    return reader;
}

void KOVAFastIO::UnregisterReader(int32_t reader)
{
    const Lock lock(mutex_);
    if (reader < 0 || reader > 31)
        return;
    const uint32_t bit = 1u << reader;
    if (!(registeredMask_ & bit))
        return;
    registeredMask_ &= ~bit;
    fifoMask_ &= ~bit;
    neverSkippingMask_ &= ~bit;
    lastOrNextMask_ &= ~bit;
    for (auto& node : nodes_) {
        node.readMask &= ~bit;
        if (node.readingMask & bit) {
            node.readingMask &= ~bit;
            if (node.readingMask == 0 && node.state == KOVAFastIOElt::Reading)
                node.state = KOVAFastIOElt::Published;
        }
    }
    // A writer waiting for this reader need not wait any longer, and the
    // reader itself, if it waits, must learn that it is gone.
    WriterMayProceed();
    readerCondition_.notify_all();
}

void KOVAFastIO::RequireRegistered(int32_t reader, const char* whatFor) const
{
    if (reader < 0 || reader > 31 || !(registeredMask_ & (1u << reader))) {
        throw KOVAFifoFault{ KOVA::ErrorException,
                             std::string("KOVAFastIO fatal error : trying to set the ") + whatFor +
                                 " for a reader that has never been registered before." };
    }
}

void KOVAFastIO::SetReaderType(int32_t reader, int32_t kind)
{
    const Lock lock(mutex_);
    RequireRegistered(reader, "reader type");
    const uint32_t bit = 1u << reader;
    if (!(fifoMask_ & bit)) {
        throw KOVAFifoFault{ KOVA::ErrorException,
                             "KOVAFastIO fatal error : SetReaderType works only with FIFO readers." };
    }
    neverSkippingMask_ &= ~bit;
    lastOrNextMask_ &= ~bit;
    if (kind == KOVA::NeverSkippingReader)
        neverSkippingMask_ |= bit;
    else if (kind == KOVA::LastOrNextReader)
        lastOrNextMask_ |= bit;
    samplingKind_[reader] =
        kind == KOVA::NeverSkippingReader || kind == KOVA::LastOrNextReader ? kind : KOVA::FifoReader;
    WriterMayProceed();
}

void KOVAFastIO::SetSubsamplingRate(int32_t reader, int32_t rate)
{
    const Lock lock(mutex_);
    if (rate < 1 || rate > 256) {
        throw KOVAFifoFault{ KOVA::ErrorException,
                             "KOVAFastIO fatal error: Output subsampling rate must be an integer in the range "
                             "between 1 and 256 included." };
    }
    RequireRegistered(reader, "subsampling rate");
    if (!(fifoMask_ & (1u << reader))) {
        throw KOVAFifoFault{ KOVA::ErrorException,
                             "KOVAFastIO fatal error : SetSubsamplingRate works only with FIFO readers." };
    }
    subsampling_[reader] = rate;
    skipRemaining_[reader] = 0;
}
