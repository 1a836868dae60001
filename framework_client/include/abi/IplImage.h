// IPL image header: geometry of an uncompressed image and a pointer to its
// pixels. The layout is shared by every binary that exchanges images.
#pragma once

#include <cstddef>
#include <cstdint>

struct _IplROI;
struct _IplTileInfo;

/// Layout (x86_64, 144 bytes):
///
///    0 nSize  4 ID  8 nChannels  12 alphaChannel  16 depth
///   20 colorModel[4]  24 channelSeq[4]  28 dataOrder  32 origin  36 align
///   40 width  44 height  48 roi*  56 maskROI*  64 imageId*  72 tileInfo*
///   80 imageSize  88 imageData*  96 widthStep  100 BorderMode[4]
///  116 BorderConst[4]  136 imageDataOrigin*
struct IplImage {
    int32_t nSize; ///< size of this header: 144
    int32_t ID;
    int32_t nChannels;
    int32_t alphaChannel;
    int32_t depth; ///< bits per channel; the top bit marks signed depths
    char colorModel[4];
    char channelSeq[4];
    int32_t dataOrder; ///< 0 pixel-interleaved, 1 planar
    int32_t origin;
    int32_t align; ///< row alignment in bytes
    int32_t width;
    int32_t height;
    _IplROI* roi;
    IplImage* maskROI;
    void* imageId;
    _IplTileInfo* tileInfo;
    int32_t imageSize; ///< bytes of pixel data
    char* imageData;
    int32_t widthStep; ///< bytes from one row start to the next
    int32_t BorderMode[4];
    int32_t BorderConst[4];
    char* imageDataOrigin;
};

namespace KOVA {
inline constexpr int32_t IplHeaderSize = 144;
inline constexpr int32_t IplDataOrderPixel = 0;
inline constexpr int32_t IplDataOrderPlane = 1;
inline constexpr int32_t IplDepthSignBit = static_cast<int32_t>(0x80000000u);
} // namespace KOVA

static_assert(sizeof(IplImage) == KOVA::IplHeaderSize);
static_assert(offsetof(IplImage, depth) == 16);
static_assert(offsetof(IplImage, colorModel) == 20);
static_assert(offsetof(IplImage, channelSeq) == 24);
static_assert(offsetof(IplImage, dataOrder) == 28);
static_assert(offsetof(IplImage, align) == 36);
static_assert(offsetof(IplImage, width) == 40);
static_assert(offsetof(IplImage, height) == 44);
static_assert(offsetof(IplImage, roi) == 48);
static_assert(offsetof(IplImage, tileInfo) == 72);
static_assert(offsetof(IplImage, imageSize) == 80);
static_assert(offsetof(IplImage, imageData) == 88);
static_assert(offsetof(IplImage, widthStep) == 96);
static_assert(offsetof(IplImage, BorderMode) == 100);
static_assert(offsetof(IplImage, BorderConst) == 116);
static_assert(offsetof(IplImage, imageDataOrigin) == 136);
