// The engine stand-in's kernel object: one per process, handed to every
// package it loads. Reports, time and engine properties go to the session
// that is current (set by whoever runs a graph).
#pragma once

#include "EngineClock.h"
#include "EngineProperties.h"
#include "ReportLog.h"
#include "abi/KOVAKernel.h"

#include <mutex>

namespace host {

/// Thread-safe. A package keeps the first kernel object it is given for as
/// long as it stays loaded, so there is one for the whole process; what it
/// serves is switched with Attach.
class HostKernel final : public KOVAKernel {
public:
    static HostKernel& Instance();

    /// Makes `log`, `clock` and `properties` what the kernel serves (each
    /// must outlive the attachment; null detaches). Without a log, reports go
    /// to standard error; without a clock, time is the system clock.
    void Attach(ReportLog* log, EngineClock* clock, const EngineProperties* properties);

    void Report(const char* source, int32_t level, const char* text) noexcept override;
    KOVATimestamp CurrentTime() noexcept override;
    bool GetBoolProperty(const char* name, bool* value) noexcept override;
    bool GetIntegerProperty(const char* name, int64_t* value) noexcept override;
    bool GetFloatProperty(const char* name, double* value) noexcept override;
    bool GetStringProperty(const char* name, KOVATextReceiver& value) noexcept override;

private:
    HostKernel() = default;
    ~HostKernel() = default;

    std::mutex mutex_; ///< guards the three pointers below
    ReportLog* log_ = nullptr;
    EngineClock* clock_ = nullptr;
    const EngineProperties* properties_ = nullptr;
    SystemEngineClock systemClock_;
};

} // namespace host
