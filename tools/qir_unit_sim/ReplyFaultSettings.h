// ReplyFaultSettings.h - the reply faults in force, changeable at run time.
#pragma once

#include "EmulatorConfig.h"

#include <mutex>

namespace vxqir::sim {

/// Response type that a reply carries when the wrong-response-type fault is
/// on: the neighbouring value, as if the unit had answered another command
/// (GET_START_TIMESTAMP, 35, is answered with 34; GET_BUFFER_SIZE, 3, with 2).
constexpr uint16_t wrongResponseType(uint16_t responseType)
{
    return static_cast<uint16_t>(responseType ^ 1u);
}

/// Holds the reply faults. Thread-safe: tests and the signal handling thread
/// change them while the control thread reads them per reply.
class ReplyFaultSettings {
public:
    explicit ReplyFaultSettings(const ReplyFaults& initial) : faults_(initial) { }

    ReplyFaults get() const
    {
        std::lock_guard lock(mutex_);
        return faults_;
    }
    void setDropShare(double share)
    {
        std::lock_guard lock(mutex_);
        faults_.dropShare = share;
    }
    void setDelay(std::chrono::milliseconds delay)
    {
        std::lock_guard lock(mutex_);
        faults_.delay = delay;
    }
    void setWrongResponseType(bool on)
    {
        std::lock_guard lock(mutex_);
        faults_.wrongResponseType = on;
    }

private:
    mutable std::mutex mutex_; // guards faults_
    ReplyFaults faults_;
};

} // namespace vxqir::sim
