#include "ReachabilityCache.h"

#include "socket.h"

#include <chrono>
#include <cinttypes>
#include <cstdio>

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
            std::printf("[Debug] IP %s, last ping: %" PRId64 " ago -> SUCCESS\n", ip, age);
            return true;
        }
        std::printf("[Debug] IP %s too old.\n", ip);
        availableIPs_.erase(entry);
    } else {
        std::printf("[Debug] IP %s could not be found\n", ip);
    }

    if (!probe_(ip)) {
        std::printf("[Debug] IP %s can not be pinged -> FAIL\n", ip);
        return false;
    }
    std::printf("[Debug] IP %s can be pinged -> SUCCESS\n", ip);
    availableIPs_[address] = now;
    return true;
}

} // namespace vxqir
