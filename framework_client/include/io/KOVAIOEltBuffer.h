// The framework's I/O element: one sample of an output, its bytes in the
// output's shared block.
#pragma once

#include "abi/KOVAIOElt.h"

#include <cstdint>

/// Thread-bound to whoever holds the element (see KOVAIOElt).
class KOVAIOEltBuffer final : public KOVAIOElt {
public:
    /// An element of `type` whose `capacity` items of `itemSize` bytes live
    /// at `data` (not owned). `owner` identifies the output it belongs to.
    KOVAIOEltBuffer(const KOVATypeInfo& type, uint8_t* data, int32_t capacity, int32_t itemSize, const void* owner);

    /// Makes the element an IPL image: `model`'s header with imageData at
    /// the element's bytes.
    void AttachIplImage(const ::IplImage& model);
    /// Makes the element a framework image over the element's bytes.
    void AttachKOVAImage();
    const void* Owner() const { return owner_; }

    void* Data() override { return data_; }
    KOVATimestamp& TimeOfIssue() override { return timeOfIssue_; }
    KOVATimestamp& Timestamp() override { return timestamp_; }
    int32_t& VectorSize() override { return vectorSize_; }
    int32_t BufferSize() const override { return capacity_; }
    double& Frequency() override { return frequency_; }
    double& Quality() override { return quality_; }
    const KOVATypeInfo& Type() const override { return type_; }
    int32_t BufferItemSize() const override { return itemSize_; }
    int32_t* Integer() override { return As<int32_t>(KOVA::Integer32); }
    int32_t* Integer32() override { return As<int32_t>(KOVA::Integer32); }
    int64_t* Integer64() override { return As<int64_t>(KOVA::Integer64 | KOVA::UnsignedInteger64); }
    double* Float64() override { return As<double>(KOVA::Float64); }
    float* Float32() override { return As<float>(KOVA::Float32); }
    char* Text() override { return As<char>(KOVA::TextAscii); }
    char* TextAscii() override { return As<char>(KOVA::TextAscii); }
    char16_t* TextUnicode() override { return As<char16_t>(KOVA::TextUnicode); }
    ::IplImage* IplImage() override { return (type_.code & KOVA::IplImage) && data_ ? &ipl_ : nullptr; }
    ::KOVAImage* KOVAImage() override { return (type_.code & KOVA::KOVAImage) && data_ ? &kovaImage_ : nullptr; }
    void* CANFrame() override { return As<void>(KOVA::CANFrame | KOVA::CANFDFrame | KOVA::CANUniFrame); }
    void* Matrix() override { return As<void>(KOVA::Matrix); }
    void* RealObject() override { return As<void>(KOVA::RealObject); }
    void* DrawingObject() override { return As<void>(KOVA::DrawingObject); }
    void* Triangles3D() override { return As<void>(KOVA::Triangles3D); }
    uint8_t* Stream8() override { return As<uint8_t>(KOVA::Stream8 | KOVA::Integer8); }
    uint16_t* Stream16() override { return As<uint16_t>(KOVA::Stream16 | KOVA::Integer16); }
    uint32_t* Stream32() override { return As<uint32_t>(KOVA::Stream32); }
    float* AudioSignal() override { return As<float>(KOVA::AudioSignal); }
    void* Misc1() override { return nullptr; }
    void* Misc2() override { return nullptr; }
    void* Misc3() override { return nullptr; }
    int64_t IOEltBufferSizeInBytes() const override { return static_cast<int64_t>(capacity_) * itemSize_; }
    int64_t IOEltUsedSizeInBytes() const override;
    int64_t Serialize(uint8_t* destination, int64_t capacity) const override;
    int64_t Deserialize(const uint8_t* source, int64_t size) override;

private:
    template <typename T>
    T* As(KOVATypeInfoValue kinds)
    {
        return (type_.code & kinds) && data_ ? reinterpret_cast<T*>(data_) : nullptr;
    }

    KOVATypeInfo type_;
    uint8_t* data_;
    int32_t capacity_;
    int32_t itemSize_;
    const void* owner_;
    int32_t vectorSize_;
    KOVATimestamp timestamp_ = 0;
    KOVATimestamp timeOfIssue_ = 0;
    double frequency_ = 0.0;
    double quality_ = 0.0;
    ::IplImage ipl_{};
    ::KOVAImage kovaImage_{};
};
