// Engine time, injectable for tests.
#pragma once

#include "abi/KOVAConstants.h"

#include <chrono>

namespace host {

/// Thread-safe.
class EngineClock {
public:
    virtual ~EngineClock() = default;
    /// Engine time in microseconds.
    virtual KOVATimestamp Now() = 0;
};

/// Microseconds since the Unix epoch from the system clock.
class SystemEngineClock final : public EngineClock {
public:
    KOVATimestamp Now() override
    {
        return std::chrono::duration_cast<std::chrono::microseconds>(
                   std::chrono::system_clock::now().time_since_epoch())
            .count();
    }
};

} // namespace host
