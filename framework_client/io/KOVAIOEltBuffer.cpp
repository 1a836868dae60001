#include "io/KOVAIOEltBuffer.h"

#include <algorithm>
#include <cstring>

KOVAIOEltBuffer::KOVAIOEltBuffer(const KOVATypeInfo& type, uint8_t* data, int32_t capacity, int32_t itemSize,
                                 const void* owner)
    : type_(type)
    , data_(data)
    , capacity_(capacity)
    , itemSize_(itemSize)
    , owner_(owner)
    , vectorSize_(capacity)
{ }

void KOVAIOEltBuffer::AttachIplImage(const ::IplImage& model)
{
    ipl_ = model;
    ipl_.imageData = reinterpret_cast<char*>(data_);
    ipl_.imageDataOrigin = reinterpret_cast<char*>(data_);
}

void KOVAIOEltBuffer::AttachKOVAImage()
{
    kovaImage_ = {};
    kovaImage_.bufferSize = static_cast<int32_t>(std::min<int64_t>(IOEltBufferSizeInBytes(), INT32_MAX));
    kovaImage_.imageData = data_;
}

int64_t KOVAIOEltBuffer::IOEltUsedSizeInBytes() const
{
    const int64_t capacity = IOEltBufferSizeInBytes();
    int64_t used = static_cast<int64_t>(vectorSize_) * itemSize_;
    if (type_.code & KOVA::IplImage)
        used = ipl_.imageSize;
    else if (type_.code & KOVA::KOVAImage)
        used = kovaImage_.imageSize;
    // Never more than the element holds, whatever a writer put in the header.
    return std::clamp<int64_t>(used, 0, capacity);
}

int64_t KOVAIOEltBuffer::Serialize(uint8_t* destination, int64_t capacity) const
{
    const int64_t used = IOEltUsedSizeInBytes();
    if (used > capacity || (used > 0 && !destination))
        return -1;
    if (used > 0)
        std::memcpy(destination, data_, static_cast<size_t>(used));
    return used;
}

int64_t KOVAIOEltBuffer::Deserialize(const uint8_t* source, int64_t size)
{
    if (size < 0 || size > IOEltBufferSizeInBytes() || (size > 0 && !source))
        return -1;
    if (size > 0)
        std::memcpy(data_, source, static_cast<size_t>(size));
    vectorSize_ = static_cast<int32_t>(size / std::max(itemSize_, 1));
    if (type_.code & KOVA::IplImage)
        ipl_.imageSize = static_cast<int32_t>(size);
    if (type_.code & KOVA::KOVAImage)
        kovaImage_.imageSize = static_cast<int32_t>(size);
    return size;
}
