// The engine's view of one input of a component instance.
#pragma once

#include "abi/KOVASampleSource.h"

#include <cstdint>

class KOVATypeFilterBase;

/// Thread-safe.
class KOVAInputPort {
public:
    virtual const char* Name() const noexcept = 0;
    /// Current reader kind (the ".readerType" property).
    virtual int32_t ReaderKind() const noexcept = 0;
    /// Current subsampling rate (the ".subsampling" property).
    virtual int32_t Subsampling() const noexcept = 0;
    /// Filter of the samples this input accepts; null accepts every sample.
    virtual const KOVATypeFilterBase* Filter() const noexcept = 0;
    /// Connects the input to `source` as a reader of its FIFO. Refused
    /// (KOVA::Refused, reason in `why`) when already connected, when the
    /// filter does not accept the source's type, or when the FIFO has no free
    /// reader slot. The source must outlive the connection.
    virtual int32_t Connect(KOVASampleSource& source, KOVATextReceiver& why) noexcept = 0;
    /// Ends the connection; no effect when not connected. Must not be called
    /// while the input's component runs.
    virtual void Disconnect() noexcept = 0;
    virtual bool IsConnected() const noexcept = 0;
    /// 1 when a sample is ready for this input's reader, 0 otherwise (and
    /// when not connected).
    virtual int32_t DataAvailable() noexcept = 0;

protected:
    ~KOVAInputPort() = default;
};
