// ReachabilityCache.h - remembers which unit addresses answered a ping.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>

namespace vxqir {

// Probes unit addresses and keeps each success for 20 seconds.
//
// An address enters the cache only after a successful probe; a hit does not
// refresh it, so an address asked for often is probed again 20 seconds after
// its last successful probe. Failed probes are never cached. Every decision
// writes one "[Debug] IP ..." diagnostic line for standard output.
//
// Thread-safe: the whole check, probe included, runs under one mutex, so
// concurrent checks queue behind each other.
class ReachabilityCache {
public:
    // Whole seconds of the wall clock since its epoch.
    using Clock = std::function<int64_t()>;
    // One probe of an address; true when it answered.
    using Probe = std::function<bool(const char* ip)>;

    // Age in seconds up to which a successful probe is trusted.
    static constexpr int64_t FRESH_SECONDS = 19;

    // Defaults: the system wall clock and is_available().
    ReachabilityCache();
    ReachabilityCache(Clock clock, Probe probe);

    // True when ip answered a probe now or at most 19 whole seconds ago.
    // ip must not be null. Thread-safe.
    bool checkAndInsertIP(const char* ip);

    static int64_t wallClockSeconds();

private:
    const Clock clock_;
    const Probe probe_;
    std::mutex pingMutex_;                        // guards availableIPs_ and serialises probes
    std::map<std::string, int64_t> availableIPs_; // address text -> time of last successful probe
};

} // namespace vxqir
