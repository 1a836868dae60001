#include "types/KOVAFilters.h"

namespace KOVA {

const KOVATypeFilterBase FilterInteger64(0, 0, Integer64);
const KOVATypeFilterBase FilterStream8(0, 0, Stream8);
const KOVATypeFilterBase FilterIplImage(0, 0, IplImage);
const KOVATypeFilterBase FilterAny(0, 0, TypeMask);

} // namespace KOVA
