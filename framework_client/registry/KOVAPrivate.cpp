#include "registry/KOVAPrivate.h"

#include <atomic>

namespace KOVAPrivate {
namespace {
// Written once by KOVAPckInit and read by every component thread; acquire /
// release order the kernel object's construction before its use.
std::atomic<KOVAKernel*> kernel{ nullptr };
} // namespace

KOVAKernel* Kernel()
{
    return kernel.load(std::memory_order_acquire);
}

KOVAKernel* StoreKernel(KOVAKernel* candidate)
{
    KOVAKernel* expected = nullptr;
    if (kernel.compare_exchange_strong(expected, candidate, std::memory_order_acq_rel))
        return candidate;
    return expected;
}

} // namespace KOVAPrivate
