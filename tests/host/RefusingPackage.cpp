// A package that answers the key handshake with 0: the engine must refuse it
// as incompatible.
#include "abi/KOVAPackageEntry.h"

extern "C" int32_t KOVAPckInit(KOVAKernel*, int32_t)
{
    return 0;
}

extern "C" int32_t KOVAGetModulesDefStruct(const char*, const KOVAComponentDefinition**, int32_t)
{
    return 0;
}
