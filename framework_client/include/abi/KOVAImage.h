// Framework image: coded (for example compressed) image bytes with the
// geometry of the picture they encode.
#pragma once

#include <cstddef>
#include <cstdint>

/// Layout (x86_64, 48 bytes):
///
///    0 width  4 height  8 imageSize  12 bufferSize  16 imageId*
///   24 imageId2*  32 imageData*  40 imageCoding[4]  44 imageType[4]
struct KOVAImage {
    int32_t width;
    int32_t height;
    int32_t imageSize;  ///< bytes used in this sample
    int32_t bufferSize; ///< bytes available at imageData
    void* imageId;
    void* imageId2;
    uint8_t* imageData;
    char imageCoding[4]; ///< names the coding, e.g. a compressed format
    char imageType[4];
};

static_assert(sizeof(KOVAImage) == 48);
static_assert(offsetof(KOVAImage, imageSize) == 8);
static_assert(offsetof(KOVAImage, bufferSize) == 12);
static_assert(offsetof(KOVAImage, imageData) == 32);
static_assert(offsetof(KOVAImage, imageCoding) == 40);
static_assert(offsetof(KOVAImage, imageType) == 44);
