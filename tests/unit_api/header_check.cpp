// The public headers compile as C++.
#include <VXQIRApi.h>
#include <VXQIRApiBatch.h>
#include <VXQIRApiProgress.h>

static_assert(sizeof(VXTQirError) == 4);
static_assert(sizeof(VXTQirChannelProgressT::datagramsSent) == 8);
