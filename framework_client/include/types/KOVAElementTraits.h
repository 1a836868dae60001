// Which sample kinds a C++ element type stands for, so that guards and
// typed element pointers can check an element before handing it out.
#pragma once

#include "abi/IplImage.h"
#include "abi/KOVAConstants.h"
#include "abi/KOVAImage.h"

#include <cstdint>

/// Any record (a struct) is carried as Structure, DynamicStructure or
/// CustomType samples; specialisations below name the others.
template <typename T>
struct KOVAElementTraits {
    static constexpr KOVATypeInfoValue kinds = KOVA::Structure | KOVA::DynamicStructure | KOVA::CustomType;
};
template <>
struct KOVAElementTraits<int64_t> {
    static constexpr KOVATypeInfoValue kinds = KOVA::Integer64;
};
template <>
struct KOVAElementTraits<uint64_t> {
    static constexpr KOVATypeInfoValue kinds = KOVA::UnsignedInteger64;
};
template <>
struct KOVAElementTraits<int32_t> {
    static constexpr KOVATypeInfoValue kinds = KOVA::Integer32;
};
template <>
struct KOVAElementTraits<uint32_t> {
    static constexpr KOVATypeInfoValue kinds = KOVA::Stream32;
};
template <>
struct KOVAElementTraits<int16_t> {
    static constexpr KOVATypeInfoValue kinds = KOVA::Integer16;
};
template <>
struct KOVAElementTraits<uint16_t> {
    static constexpr KOVATypeInfoValue kinds = KOVA::Stream16;
};
template <>
struct KOVAElementTraits<int8_t> {
    static constexpr KOVATypeInfoValue kinds = KOVA::Integer8;
};
template <>
struct KOVAElementTraits<uint8_t> {
    static constexpr KOVATypeInfoValue kinds = KOVA::Stream8;
};
template <>
struct KOVAElementTraits<char> {
    static constexpr KOVATypeInfoValue kinds = KOVA::TextAscii;
};
template <>
struct KOVAElementTraits<double> {
    static constexpr KOVATypeInfoValue kinds = KOVA::Float64;
};
template <>
struct KOVAElementTraits<float> {
    static constexpr KOVATypeInfoValue kinds = KOVA::Float32 | KOVA::AudioSignal;
};
template <>
struct KOVAElementTraits<IplImage> {
    static constexpr KOVATypeInfoValue kinds = KOVA::IplImage;
};
template <>
struct KOVAElementTraits<KOVAImage> {
    static constexpr KOVATypeInfoValue kinds = KOVA::KOVAImage;
};

namespace KOVA {
/// True when samples of type code `code` may be seen as `T`.
template <typename T>
constexpr bool TypeMatches(KOVATypeInfoValue code)
{
    return (code & TypeMask & KOVAElementTraits<T>::kinds) != 0;
}
} // namespace KOVA
