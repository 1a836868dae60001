// The one table of sample kinds: their names and the size of one item.
#pragma once

#include "abi/KOVAConstants.h"
#include "abi/KOVATypeInfo.h"

#include <cstdint>
#include <string>

namespace KOVA {

/// Names of the kind bits set in `code`, joined by "|" ("none" when no bit
/// of TypeMask is set), e.g. "IplImage|Stream8".
std::string TypeKindNames(KOVATypeInfoValue code);

/// The type as a user reads it: kind names, then the type name and unit when
/// present, e.g. "Structure \"VXTQirStatusT\"".
std::string TypeText(const KOVATypeInfo& type);

/// Bytes of one item of the sample kind of `code` (the lowest kind bit set):
/// 8 for Integer64, 1 for Stream8 and Structure, ... For kinds whose
/// elements the component lays out itself (IplImage, KOVAImage and other
/// records) an item is one byte.
int32_t ItemSizeOfType(KOVATypeInfoValue code);

/// "0x" followed by lower-case hexadecimal digits.
std::string HexText(uint64_t value);

} // namespace KOVA
