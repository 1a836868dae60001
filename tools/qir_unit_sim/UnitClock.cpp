#include "UnitClock.h"

#include <ctime>

namespace vxqir::sim {

uint64_t SystemUnitClock::nowNs() const
{
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1'000'000'000ull + static_cast<uint64_t>(ts.tv_nsec);
}

} // namespace vxqir::sim
