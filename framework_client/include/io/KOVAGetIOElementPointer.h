// Typed access to the items of an I/O element, checked against the
// element's type and capacity.
#pragma once

#include "abi/KOVAIOElt.h"
#include "component/KOVAUnwind.h"
#include "types/KOVAElementTraits.h"

#include <string>
#include <type_traits>

namespace KOVA {

/// Pointer to item `index` of `element` seen as `ElementType`. Fails the
/// current lifecycle call ("[ElementType != ioElt.Type] The requested
/// ElementType is different from actual data type of the I/O element") when
/// the element is not of that type, and ("Element index is out of bounds.
/// [elementIndex:...") when the index reaches the element's capacity in
/// items of `ElementType`. An IPL or framework image element has one item:
/// its header. Thread-bound to the element's holder.
template <typename ElementType>
ElementType* GetIOElementPointer(KOVAIOElt& element, int32_t index)
{
    if (!TypeMatches<ElementType>(element.Type().code))
        Fail("[ElementType != ioElt.Type] The requested ElementType is different from actual data type of the I/O "
             "element");
    int64_t capacity = 0;
    ElementType* base = nullptr;
    if constexpr (std::is_same_v<ElementType, ::IplImage>) {
        base = element.IplImage();
        capacity = base ? 1 : 0;
    } else if constexpr (std::is_same_v<ElementType, ::KOVAImage>) {
        base = element.KOVAImage();
        capacity = base ? 1 : 0;
    } else {
        base = static_cast<ElementType*>(element.Data());
        capacity = base ? element.IOEltBufferSizeInBytes() / static_cast<int64_t>(sizeof(ElementType)) : 0;
    }
    if (index < 0 || index >= capacity)
        Fail(("Element index is out of bounds. [elementIndex:" + std::to_string(index) +
              "] [elementCapacity:" + std::to_string(capacity) + "]")
                 .c_str());
    return base + index;
}

} // namespace KOVA
