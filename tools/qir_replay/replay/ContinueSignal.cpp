#include "ContinueSignal.h"

#include <atomic>
#include <csignal>
#include <mutex>

namespace qir::replay {

namespace {

std::atomic<uint64_t> g_continues{ 0 };
static_assert(std::atomic<uint64_t>::is_always_lock_free);

void counted(int) noexcept
{
    g_continues.fetch_add(1, std::memory_order_relaxed);
}

} // namespace

void countContinues()
{
    static std::once_flag installed;
    std::call_once(installed, [] {
        struct sigaction onContinue { };
        onContinue.sa_handler = &counted;
        sigemptyset(&onContinue.sa_mask);
        onContinue.sa_flags = SA_RESTART;
        ::sigaction(SIGCONT, &onContinue, nullptr);
    });
}

uint64_t continues() noexcept
{
    return g_continues.load(std::memory_order_relaxed);
}

} // namespace qir::replay
