// When a frame source of the host's test package writes its frames: a wait
// before the first, a fixed wait after each, and an end after a given count.
#pragma once

#include "KOVA.h"

#include <cstdint>

/// Paces a source's Core, one frame per call:
///
///   void Source::Core()
///   {
///       pacing_.BeforeFrame(*this);
///       { ... write frame pacing_.Index() into a sample, return if none ... }
///       pacing_.AfterFrame(*this);
///   }
///
/// Thread-bound to the source's primary thread.
class KOVAHostFramePacing {
public:
    /// Reads "PeriodUs", "Count" and the wait before the first frame from
    /// property `startDelayProperty`, and starts again at frame 0.
    void Birth(KOVAComponent& source, const char* startDelayProperty = "StartDelayUs")
    {
        source.Get(source.Property(startDelayProperty), startDelayUs_);
        source.Get(source.Property("PeriodUs"), periodUs_);
        source.Get(source.Property("Count"), count_);
        sent_ = 0;
    }

    /// Ends the source's run (raises the stop through Finish) once `Count`
    /// frames are out; before the first frame rests the start delay, which
    /// lets a graph's other sources deliver first.
    void BeforeFrame(KOVAComponent& source) const
    {
        if (count_ > 0 && sent_ >= count_)
            source.Finish();
        if (sent_ == 0 && startDelayUs_ > 0)
            source.Rest(startDelayUs_);
    }

    /// Counts frame `Index()` as written and rests one period.
    void AfterFrame(KOVAComponent& source)
    {
        ++sent_;
        if (periodUs_ > 0)
            source.Rest(periodUs_);
    }

    /// The number of the frame to write next, from 0.
    int64_t Index() const { return sent_; }

private:
    int64_t startDelayUs_ = 0;
    int64_t periodUs_ = 0;
    int64_t count_ = 0;
    int64_t sent_ = 0;
};
