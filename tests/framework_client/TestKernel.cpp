#include "TestKernel.h"

#include "abi/KOVAPackageEntry.h"

TestKernel& TestKernel::Installed()
{
    static TestKernel* kernel = [] {
        auto* k = new TestKernel;
        KOVAPckInit(k, KOVA::PackageKey);
        return k;
    }();
    return *kernel;
}
