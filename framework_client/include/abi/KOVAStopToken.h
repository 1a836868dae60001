// Whether the component on whose behalf a blocking call waits is being
// stopped. Passed by a reader to a sample source that may live in another
// binary.
#pragma once

/// Thread-safe.
class KOVAStopToken {
public:
    virtual bool StopRequested() const noexcept = 0;

protected:
    ~KOVAStopToken() = default;
};
