#include "ImageHeaders.h"

#include <zlib.h>

#include <array>
#include <cstdio>
#include <cstring>

namespace qir::replay {

namespace {

/// Lines and line bytes the unit takes are 16-bit.
constexpr uint32_t kMaxSide = 0xFFFF;

constexpr std::array<uint8_t, 8> kPngSignature = { 0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n' };

uint32_t readUint32Be(const uint8_t* p)
{
    return uint32_t{ p[0] } << 24 | uint32_t{ p[1] } << 16 | uint32_t{ p[2] } << 8 | p[3];
}

uint16_t readUint16Be(const uint8_t* p)
{
    return static_cast<uint16_t>(p[0] << 8 | p[1]);
}

bool isSpace(uint8_t c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

/// One decimal number of a PNM header after white space and comments.
uint32_t pnmNumber(std::span<const uint8_t> bytes, size_t& at, const char* what, size_t* startedAt = nullptr)
{
    for (;;) {
        while (at < bytes.size() && isSpace(bytes[at]))
            ++at;
        if (at < bytes.size() && bytes[at] == '#') {
            while (at < bytes.size() && bytes[at] != '\n')
                ++at;
            continue;
        }
        break;
    }
    if (at >= bytes.size())
        throw ImageHeaderError(at, std::string("header cut short before the ") + what);
    if (bytes[at] < '0' || bytes[at] > '9')
        throw ImageHeaderError(at, std::string("the ") + what + " is no decimal number");
    const size_t start = at;
    if (startedAt != nullptr)
        *startedAt = start;
    uint64_t value = 0;
    while (at < bytes.size() && bytes[at] >= '0' && bytes[at] <= '9') {
        value = value * 10 + (bytes[at] - '0');
        if (value > kMaxSide)
            throw ImageHeaderError(start, std::string("the ") + what + " is above " + std::to_string(kMaxSide));
        ++at;
    }
    return static_cast<uint32_t>(value);
}

void checkSides(const ImageGeometry& g, size_t at)
{
    if (g.width == 0 || g.height == 0)
        throw ImageHeaderError(at,
                               "an image of " + std::to_string(g.width) + " x " + std::to_string(g.height) +
                                   " pixels holds no pixels");
    if (g.width > kMaxSide || g.height > kMaxSide || uint64_t{ g.width } * g.channels > kMaxSide)
        throw ImageHeaderError(at,
                               "an image of " + std::to_string(g.width) + " x " + std::to_string(g.height) +
                                   " pixels has lines or rows beyond the unit's 65535");
}

} // namespace

bool looksLikePnm(std::span<const uint8_t> bytes)
{
    return bytes.size() >= 2 && bytes[0] == 'P' &&
        (bytes[1] == '5' || bytes[1] == '6' || bytes[1] == '2' || bytes[1] == '3');
}

bool looksLikePng(std::span<const uint8_t> bytes)
{
    return bytes.size() >= kPngSignature.size() &&
        std::memcmp(bytes.data(), kPngSignature.data(), kPngSignature.size()) == 0;
}

bool looksLikeJpeg(std::span<const uint8_t> bytes)
{
    return bytes.size() >= 3 && bytes[0] == 0xFF && bytes[1] == 0xD8 && bytes[2] == 0xFF;
}

ImageGeometry readPnmHeader(std::span<const uint8_t> bytes)
{
    if (bytes.size() < 2 || bytes[0] != 'P' || (bytes[1] != '5' && bytes[1] != '6'))
        throw ImageHeaderError(0,
                               bytes.size() >= 2 && bytes[0] == 'P' && (bytes[1] == '2' || bytes[1] == '3')
                                   ? "a PGM/PPM of text samples (P2/P3); binary ones (P5/P6) are read"
                                   : "no binary PGM (P5) or PPM (P6) header");
    ImageGeometry g;
    g.channels = bytes[1] == '5' ? 1 : 3;
    size_t at = 2;
    if (at >= bytes.size() || !isSpace(bytes[at]))
        throw ImageHeaderError(at, "no white space after the magic number");
    g.width = pnmNumber(bytes, at, "width");
    g.height = pnmNumber(bytes, at, "height");
    size_t maxvalAt = at;
    const uint32_t maxval = pnmNumber(bytes, at, "maximum value", &maxvalAt);
    if (maxval == 0 || maxval > 255)
        throw ImageHeaderError(maxvalAt,
                               "maximum value " + std::to_string(maxval) + " (8-bit samples, 1 to 255, are read)");
    if (at >= bytes.size() || !isSpace(bytes[at]))
        throw ImageHeaderError(at, "no white space after the maximum value");
    ++at; // exactly one white space character before the pixels
    checkSides(g, 0);
    g.pixelOffset = at;
    const uint64_t pixels = uint64_t{ g.width } * g.height * g.channels;
    if (bytes.size() - at < pixels)
        throw ImageHeaderError(bytes.size(),
                               "pixels cut short: " + std::to_string(bytes.size() - at) + " of " +
                                   std::to_string(pixels) + " bytes");
    return g;
}

ImageGeometry readPngHeader(std::span<const uint8_t> bytes)
{
    if (!looksLikePng(bytes))
        throw ImageHeaderError(0, "no PNG signature");
    ImageGeometry g;
    size_t at = kPngSignature.size();
    bool first = true;
    bool data = false;
    for (;;) {
        if (bytes.size() - at < 12)
            throw ImageHeaderError(
                at, "PNG chunk cut short (" + std::to_string(bytes.size() - at) + " bytes left, IEND not reached)");
        const uint32_t length = readUint32Be(bytes.data() + at);
        const uint8_t* type = bytes.data() + at + 4;
        // The type as printable text: a damaged one may hold any byte.
        std::string name;
        for (int k = 0; k < 4; ++k) {
            char text[8];
            if (type[k] >= 0x20 && type[k] < 0x7F && type[k] != '\\')
                name += static_cast<char>(type[k]);
            else
                name.append(text, static_cast<size_t>(std::snprintf(text, sizeof text, "\\x%02X", type[k])));
        }
        if (length > 0x7FFFFFFFu || length > bytes.size() - at - 12)
            throw ImageHeaderError(
                at, "PNG chunk " + name + " of " + std::to_string(length) + " bytes runs past the end of the file");
        const uint32_t stored = readUint32Be(bytes.data() + at + 8 + length);
        const auto crc = static_cast<uint32_t>(::crc32(0L, type, static_cast<uInt>(length + 4)));
        if (stored != crc)
            throw ImageHeaderError(at, "PNG chunk " + name + " fails its CRC");
        if (first) {
            if (name != "IHDR" || length != 13)
                throw ImageHeaderError(at, "the first PNG chunk is not a 13-byte IHDR");
            const uint8_t* h = bytes.data() + at + 8;
            g.width = readUint32Be(h);
            g.height = readUint32Be(h + 4);
            const uint8_t colorType = h[9];
            if (colorType != 0 && colorType != 2 && colorType != 3 && colorType != 4 && colorType != 6)
                throw ImageHeaderError(at + 17, "PNG colour type " + std::to_string(colorType));
            g.channels = colorType == 0 || colorType == 4 ? 1 : 3;
            if (g.width > kMaxSide || g.height > kMaxSide)
                throw ImageHeaderError(at + 8,
                                       "an image of " + std::to_string(g.width) + " x " + std::to_string(g.height) +
                                           " pixels has lines or rows beyond the unit's 65535");
            checkSides(g, at + 8);
            first = false;
        } else if (name == "IDAT") {
            data = true;
        } else if (name == "IEND") {
            if (!data)
                throw ImageHeaderError(at, "PNG without image data (no IDAT chunk)");
            return g;
        }
        at += 12 + length;
    }
}

ImageGeometry readJpegHeader(std::span<const uint8_t> bytes)
{
    if (!looksLikeJpeg(bytes))
        throw ImageHeaderError(0, "no JPEG start-of-image marker");
    size_t at = 2;
    for (;;) {
        if (bytes.size() - at < 2)
            throw ImageHeaderError(at, "JPEG cut short before a start-of-frame header");
        if (bytes[at] != 0xFF)
            throw ImageHeaderError(at, "no JPEG marker where one belongs");
        uint8_t marker = bytes[at + 1];
        if (marker == 0xFF) { // fill byte
            ++at;
            continue;
        }
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) { // markers without a segment
            at += 2;
            continue;
        }
        if (marker == 0xD9 || marker == 0xDA)
            throw ImageHeaderError(at, "JPEG without a start-of-frame header before its scan");
        if (bytes.size() - at < 4)
            throw ImageHeaderError(at, "JPEG segment length cut short");
        const uint16_t length = readUint16Be(bytes.data() + at + 2);
        if (length < 2 || length > bytes.size() - at - 2)
            throw ImageHeaderError(
                at, "JPEG segment of " + std::to_string(length) + " bytes runs past the end of the file");
        const bool startOfFrame =
            marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
        if (startOfFrame) {
            if (length < 8)
                throw ImageHeaderError(at, "JPEG start-of-frame header of " + std::to_string(length) + " bytes");
            const uint8_t* s = bytes.data() + at + 4;
            ImageGeometry g;
            g.height = readUint16Be(s + 1);
            g.width = readUint16Be(s + 3);
            g.channels = s[5];
            if (g.height == 0)
                throw ImageHeaderError(at + 5, "JPEG height 0 (given later by a DNL marker) is not read");
            if (g.width == 0 || g.channels == 0)
                throw ImageHeaderError(at + 7, "JPEG start-of-frame header without width or components");
            if (bytes[bytes.size() - 2] != 0xFF || bytes[bytes.size() - 1] != 0xD9)
                throw ImageHeaderError(bytes.size(), "JPEG cut short: no end-of-image marker at its end");
            return g;
        }
        at += 2 + length;
    }
}

} // namespace qir::replay
