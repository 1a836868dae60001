#include "ReachabilityCache.h"

#include "Diagnostics.h"
#include "socket.h"

#include <chrono>
#include <cinttypes>

namespace vxqir {

ReachabilityCache::ReachabilityCache() : ReachabilityCache(&wallClockSeconds, &is_available)
{ }

ReachabilityCache::ReachabilityCache(Clock clock, Probe probe) : clock_(std::move(clock)), probe_(std::move(probe))
{ }

int64_t ReachabilityCache::wallClockSeconds()
{
    const auto sinceEpoch = std::chrono::system_clock::now().time_since_epoch();
    return std::chrono::duration_cast<std::chrono::nanoseconds>(sinceEpoch).count() / 1000000000;
}

bool ReachabilityCache::checkAndInsertIP(const char* ip)
{
    std::lock_guard lock(pingMutex_);
    const std::string address(ip);
    const int64_t now = clock_();

    const auto entry = availableIPs_.find(address);
    if (entry != availableIPs_.end()) {
        // Signed on purpose: a wall clock set back still counts as fresh.
        const int64_t age = now - entry->second;
        if (age <= FRESH_SECONDS) {
            diagnose(DiagnosticStream::Output, "[Debug] IP %s, last ping: %" PRId64 " ago -> SUCCESS", ip, age);
            return true;
        }
        diagnose(DiagnosticStream::Output, "[Debug] IP %s too old.", ip);
        availableIPs_.erase(entry);
    } else {
        diagnose(DiagnosticStream::Output, "[Debug] IP %s could not be found", ip);
    }

    if (!probe_(ip)) {
        diagnose(DiagnosticStream::Output, "[Debug] IP %s can not be pinged -> FAIL", ip);
        return false;
    }
    diagnose(DiagnosticStream::Output, "[Debug] IP %s can be pinged -> SUCCESS", ip);
    availableIPs_[address] = now;
    return true;
}

} // namespace vxqir
