// UnitClock.h - the unit's clock, injectable so that tests need no sleeps.
#pragma once

#include <atomic>
#include <cstdint>

namespace vxqir::sim {

/// Source of the unit's current time in nanoseconds: the value reported in
/// every periodic status and the time base of FIFO playout.
///
/// Thread-safe: implementations are read from the control and receive
/// threads at once.
class UnitClock {
public:
    virtual ~UnitClock() = default;
    virtual uint64_t nowNs() const = 0;
};

/// The host's wall clock (CLOCK_REALTIME), as a PTP-disciplined unit would
/// report it. Thread-safe.
class SystemUnitClock final : public UnitClock {
public:
    uint64_t nowNs() const override;
};

/// A clock that moves only when told to. Thread-safe.
class ManualUnitClock final : public UnitClock {
public:
    explicit ManualUnitClock(uint64_t startNs = 0) : now_(startNs) { }

    // Relaxed is enough: the clock value carries no other data with it; the
    // readers that need ordering take the channel lock around their use.
    uint64_t nowNs() const override { return now_.load(std::memory_order_relaxed); }
    void set(uint64_t ns) { now_.store(ns, std::memory_order_relaxed); }
    void advance(uint64_t ns) { now_.fetch_add(ns, std::memory_order_relaxed); }

private:
    std::atomic<uint64_t> now_;
};

} // namespace vxqir::sim
