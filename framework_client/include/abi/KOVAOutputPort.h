// The engine's view of one output of a component instance.
#pragma once

#include "abi/KOVASampleSource.h"

#include <cstdint>

/// Thread-safe.
class KOVAOutputPort : public KOVASampleSource {
public:
    virtual const char* Name() const noexcept = 0;
    /// Elements in the ring (the ".fifosize" property).
    virtual int32_t FifoSize() const noexcept = 0;
    /// Items per element from the definition (0: allocated by the component).
    virtual int32_t DefinedSize() const noexcept = 0;
    /// Elements published since the output was made.
    virtual uint64_t PublishedCount() const noexcept = 0;
    /// Elements a writer took before every FIFO-style reader had consumed them.
    virtual uint64_t OverflowCount() const noexcept = 0;

protected:
    ~KOVAOutputPort() = default;
};
