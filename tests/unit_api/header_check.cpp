// The public header compiles on its own as C++.
#include <VXQIRApi.h>

static_assert(sizeof(VXTQirError) == 4);
