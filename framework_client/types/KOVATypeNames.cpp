#include "types/KOVATypeNames.h"

#include <array>
#include <cstdio>
#include <utility>

namespace KOVA {
namespace {

struct KindEntry {
    KOVATypeInfoValue bit;
    const char* name;
    int32_t itemSize;
};

constexpr std::array<KindEntry, 25> kKinds{ {
    { Structure, "Structure", 1 },
    { Integer32, "Integer32", 4 },
    { Float64, "Float64", 8 },
    { TextAscii, "TextAscii", 1 },
    { TextUnicode, "TextUnicode", 2 },
    { IplImage, "IplImage", 1 },
    { KOVAImage, "KOVAImage", 1 },
    { CANFrame, "CANFrame", 1 },
    { Matrix, "Matrix", 8 },
    { RealObject, "RealObject", 1 },
    { DrawingObject, "DrawingObject", 1 },
    { Triangles3D, "Triangles3D", 1 },
    { Stream8, "Stream8", 1 },
    { Stream16, "Stream16", 2 },
    { Stream32, "Stream32", 4 },
    { Integer64, "Integer64", 8 },
    { Float32, "Float32", 4 },
    { AudioSignal, "AudioSignal", 4 },
    { DynamicStructure, "DynamicStructure", 1 },
    { CANFDFrame, "CANFDFrame", 1 },
    { Integer8, "Integer8", 1 },
    { Integer16, "Integer16", 2 },
    { UnsignedInteger64, "UnsignedInteger64", 8 },
    { CustomType, "CustomType", 1 },
    { CANUniFrame, "CANUniFrame", 1 },
} };

} // namespace

std::string TypeKindNames(KOVATypeInfoValue code)
{
    std::string names;
    for (const auto& kind : kKinds) {
        if (code & kind.bit) {
            if (!names.empty())
                names += '|';
            names += kind.name;
        }
    }
    if ((code & TypeMask) == TypeMask)
        return "any";
    return names.empty() ? "none" : names;
}

std::string TypeText(const KOVATypeInfo& type)
{
    std::string text = TypeKindNames(type.code);
    if (type.name && *type.name)
        text += std::string(" \"") + type.name + "\"";
    if (type.unit && *type.unit)
        text += std::string(" [") + type.unit + "]";
    return text;
}

int32_t ItemSizeOfType(KOVATypeInfoValue code)
{
    for (const auto& kind : kKinds) {
        if (code & kind.bit)
            return kind.itemSize;
    }
    return 1;
}

std::string HexText(uint64_t value)
{
    char buffer[24];
    std::snprintf(buffer, sizeof buffer, "0x%llx", static_cast<unsigned long long>(value));
    return buffer;
}

} // namespace KOVA
