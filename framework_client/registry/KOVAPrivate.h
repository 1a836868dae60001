// Process-wide state of this binary's framework client that is reached from
// several places: the kernel object stored by KOVAPckInit.
#pragma once

#include "abi/KOVAKernel.h"

namespace KOVAPrivate {

/// The kernel object; null until the first successful KOVAPckInit, never
/// replaced afterwards. Thread-safe.
KOVAKernel* Kernel();
/// Stores `kernel` unless one is stored already; returns the stored one.
/// Thread-safe.
KOVAKernel* StoreKernel(KOVAKernel* kernel);

} // namespace KOVAPrivate
