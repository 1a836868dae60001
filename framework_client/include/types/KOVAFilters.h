// Type filters shared by components.
#pragma once

#include "types/KOVATypeFilterBase.h"

namespace KOVA {

/// 64-bit integer samples (maskX Integer64).
extern const KOVATypeFilterBase FilterInteger64;
/// Byte streams (maskX Stream8).
extern const KOVATypeFilterBase FilterStream8;
/// IPL images (maskX IplImage).
extern const KOVATypeFilterBase FilterIplImage;
/// Every sample kind.
extern const KOVATypeFilterBase FilterAny;

} // namespace KOVA
