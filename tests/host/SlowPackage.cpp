// A package that takes 5 s to load: its initialisation says so on standard
// error and then sleeps (a signal does not cut the sleep short). For Ctrl-C
// while the engine loads packages.
#include "abi/KOVAPackageEntry.h"

#include <time.h>

#include <cstdio>

namespace {

struct SlowLoad {
    SlowLoad()
    {
        std::fputs("slow test package: loading\n", stderr);
        std::fflush(stderr);
        timespec rest{ 5, 0 };
        while (nanosleep(&rest, &rest) != 0) { }
    }
};

const SlowLoad slowLoad;

} // namespace

extern "C" int32_t KOVAPckInit(KOVAKernel*, int32_t)
{
    return 0;
}

extern "C" int32_t KOVAGetModulesDefStruct(const char*, const KOVAComponentDefinition**, int32_t)
{
    return 0;
}
