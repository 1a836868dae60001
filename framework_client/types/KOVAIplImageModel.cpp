#include "types/KOVAIplImageModel.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <limits>

namespace KOVA {
namespace {

void setChars(char (&field)[4], const char* text)
{
    std::memset(field, 0, sizeof field);
    std::memcpy(field, text, std::min<size_t>(std::strlen(text), sizeof field));
}

int64_t roundUp(int64_t value, int64_t step)
{
    return (value + step - 1) / step * step;
}

} // namespace

::IplImage IplImageModel(int32_t width, int32_t height, const char* channelSequence, int32_t dataOrder, int32_t depth,
                         int32_t align)
{
    ::IplImage image{};
    image.nSize = IplHeaderSize;

    char sequence[5] = {};
    if (channelSequence) {
        for (size_t i = 0; i < 4 && channelSequence[i]; ++i)
            sequence[i] = static_cast<char>(std::toupper(static_cast<unsigned char>(channelSequence[i])));
    }
    const size_t length = std::strlen(sequence);

    if (std::strcmp(sequence, "BGR") == 0) {
        setChars(image.colorModel, "RGB");
        setChars(image.channelSeq, "BGR");
        image.nChannels = 3;
        image.alphaChannel = 0;
    } else if (std::strcmp(sequence, "BGRA") == 0) {
        setChars(image.colorModel, "RGBA");
        setChars(image.channelSeq, "BGRA");
        image.nChannels = 4;
        image.alphaChannel = 3;
    } else {
        setChars(image.colorModel, sequence);
        setChars(image.channelSeq, sequence);
        if (std::strcmp(sequence, "GRAY") == 0 || std::strcmp(sequence, "G") == 0) {
            setChars(image.channelSeq, "GRAY");
            image.nChannels = 1;
            image.alphaChannel = 0;
        } else if (length == 4 && sequence[3] == 'A') {
            image.nChannels = 4;
            image.alphaChannel = 3;
        } else {
            image.nChannels = 3;
            image.alphaChannel = 0;
        }
    }

    image.depth = depth;
    image.dataOrder = dataOrder;
    image.align = align;
    image.width = width;
    image.height = height;
    image.origin = 0;
    for (int i = 0; i < 4; ++i) {
        image.BorderMode[i] = 1;
        image.BorderConst[i] = 0;
    }

    const int64_t bits = static_cast<int64_t>(depth) & 0x7FFFFFFF;
    const int64_t step = std::max<int64_t>(align, 1);
    const int64_t channels = image.nChannels;
    const int64_t w = std::max<int64_t>(width, 0);
    const int64_t h = std::max<int64_t>(height, 0);
    const bool planar = dataOrder == IplDataOrderPlane;
    const int64_t rowBits = w * bits * (planar ? 1 : channels);
    const int64_t widthStep = roundUp((rowBits + 7) / 8, step);
    const int64_t imageSize = h * widthStep * (planar ? channels : 1);
    constexpr int64_t kMax = std::numeric_limits<int32_t>::max();
    if (widthStep > kMax || imageSize > kMax) {
        image.widthStep = -1;
        image.imageSize = -1;
    } else {
        image.widthStep = static_cast<int32_t>(widthStep);
        image.imageSize = static_cast<int32_t>(imageSize);
    }
    return image;
}

} // namespace KOVA
