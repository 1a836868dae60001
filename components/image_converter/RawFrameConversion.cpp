#include "image_converter/RawFrameConversion.h"

#include <bit>
#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace qir::raw {
namespace {

// Monochrome words are stored unchanged, so a row is copied byte for byte;
// that keeps each word's value only on a little-endian machine, which every
// machine the package runs on is.
static_assert(std::endian::native == std::endian::little);

/// One pixel: bytes 0 and 1 the first word, bytes 2 and 3 the second.
inline uint32_t packPixel(uint32_t pair) noexcept
{
    // (a << 2) keeps a's lower ten bits in bits 2..11; (pair >> 2) moves b's
    // lower ten bits (16..25) to 14..23. The masks drop everything else.
    return ((pair << 2) & 0xFFCu) | ((pair >> 2) & 0xFFC000u);
}

void packScalar(const uint8_t* in, uint8_t* out, uint32_t count) noexcept
{
    for (uint32_t c = 0; c < count; ++c) {
        const uint32_t pair = static_cast<uint32_t>(in[0]) | static_cast<uint32_t>(in[1]) << 8 |
            static_cast<uint32_t>(in[2]) << 16 | static_cast<uint32_t>(in[3]) << 24;
        const uint32_t v = packPixel(pair);
        out[0] = static_cast<uint8_t>(v);
        out[1] = static_cast<uint8_t>(v >> 8);
        out[2] = static_cast<uint8_t>(v >> 16);
        in += 4;
        out += 3;
    }
}

#if defined(__x86_64__)
/// packPixel on four pixels at once: each pixel's two words, cut to ten
/// bits, times 4 and 2^14 and summed in one multiply-add (the two fields do
/// not overlap, so the sum is their bitwise or).
inline __m128i packWordsSse2(__m128i words) noexcept
{
    return _mm_madd_epi16(_mm_and_si128(words, _mm_set1_epi32(0x03FF03FF)), _mm_set1_epi32(0x40000004));
}

/// Four pixels (16 input bytes at `in`) packed into the low 12 bytes of the
/// result; bytes 12..15 are zero.
inline __m128i packFourSse2(const uint8_t* in) noexcept
{
    const __m128i words = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
    const __m128i v = packWordsSse2(words);
    // Each 64-bit half holds two 24-bit values at bits 0 and 32; close the
    // gap so that each half holds six bytes at its bottom.
    const __m128i low = _mm_and_si128(v, _mm_set1_epi64x(0xFFFFFF));
    const __m128i high = _mm_and_si128(_mm_srli_epi64(v, 8), _mm_set1_epi64x(0xFFFFFF000000));
    const __m128i halves = _mm_or_si128(low, high);
    // Then put the upper half's six bytes right after the lower half's.
    return _mm_or_si128(_mm_move_epi64(halves), _mm_slli_si128(_mm_srli_si128(halves, 8), 6));
}

void packSse2(const uint8_t* in, uint8_t* out, uint32_t width) noexcept
{
    uint32_t done = 0;
    // Sixteen pixels per step: 64 input bytes into three 16-byte stores.
    for (; done + 16 <= width; done += 16) {
        const __m128i r0 = packFourSse2(in);
        const __m128i r1 = packFourSse2(in + 16);
        const __m128i r2 = packFourSse2(in + 32);
        const __m128i r3 = packFourSse2(in + 48);
        auto* o = reinterpret_cast<__m128i*>(out);
        _mm_storeu_si128(o, _mm_or_si128(r0, _mm_slli_si128(r1, 12)));
        _mm_storeu_si128(o + 1, _mm_or_si128(_mm_srli_si128(r1, 4), _mm_slli_si128(r2, 8)));
        _mm_storeu_si128(o + 2, _mm_or_si128(_mm_srli_si128(r2, 8), _mm_slli_si128(r3, 4)));
        in += 64;
        out += 48;
    }
    packScalar(in, out, width - done);
}

// The byte shuffle drops the zero top byte of each 32-bit value: four
// pixels become twelve bytes, the last four bytes of the register zero.
[[gnu::target("ssse3")]] void packSsse3(const uint8_t* in, uint8_t* out, uint32_t width) noexcept
{
    const __m128i squeeze = _mm_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
    uint32_t done = 0;
    // Each 16-byte store writes four bytes beyond its twelve, which the next
    // store overwrites; two pixels must remain after the step for them.
    for (; done + 6 <= width; done += 4) {
        const __m128i words = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
        const __m128i v = packWordsSse2(words);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_shuffle_epi8(v, squeeze));
        in += 16;
        out += 12;
    }
    packScalar(in, out, width - done);
}

/// Eight pixels (32 input bytes at `in`) packed into 24 bytes: twelve at
/// the bottom of each 128-bit lane (32-bit elements 0-2 and 4-6).
[[gnu::target("avx2")]] inline __m256i packEightAvx2(const uint8_t* in) noexcept
{
    const __m256i words = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in));
    // As packWordsSse2, on eight pixels.
    const __m256i v =
        _mm256_madd_epi16(_mm256_and_si256(words, _mm256_set1_epi32(0x03FF03FF)), _mm256_set1_epi32(0x40000004));
    // The byte shuffle drops the zero top byte of each 32-bit value.
    const __m256i squeeze = _mm256_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1, //
                                             0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
    return _mm256_shuffle_epi8(v, squeeze);
}

[[gnu::target("avx2")]] void packAvx2(const uint8_t* in, uint8_t* out, uint32_t width) noexcept
{
    uint32_t done = 0;
    // Thirty-two pixels per step: 128 input bytes into three whole 32-byte
    // stores, each gathered from two packed groups of eight by a 32-bit
    // permute and a blend (writing 24 bytes and overlapping the next store,
    // as the loop below does, costs a quarter more stores, half of them
    // across cache lines).
    for (; done + 32 <= width; done += 32) {
        const __m256i a = packEightAvx2(in);
        const __m256i b = packEightAvx2(in + 32);
        const __m256i c = packEightAvx2(in + 64);
        const __m256i d = packEightAvx2(in + 96);
        // Output element k of each store, from the packed elements 0-2 and
        // 4-6 of two groups (the blend mask picks the second group's).
        const __m256i out0 =
            _mm256_blend_epi32(_mm256_permutevar8x32_epi32(a, _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 0, 0)),
                               _mm256_permutevar8x32_epi32(b, _mm256_setr_epi32(0, 0, 0, 0, 0, 0, 0, 1)), 0xC0);
        const __m256i out1 =
            _mm256_blend_epi32(_mm256_permutevar8x32_epi32(b, _mm256_setr_epi32(2, 4, 5, 6, 0, 0, 0, 0)),
                               _mm256_permutevar8x32_epi32(c, _mm256_setr_epi32(0, 0, 0, 0, 0, 1, 2, 4)), 0xF0);
        const __m256i out2 =
            _mm256_blend_epi32(_mm256_permutevar8x32_epi32(c, _mm256_setr_epi32(5, 6, 0, 0, 0, 0, 0, 0)),
                               _mm256_permutevar8x32_epi32(d, _mm256_setr_epi32(0, 0, 0, 1, 2, 4, 5, 6)), 0xFC);
        auto* o = reinterpret_cast<__m256i*>(out);
        _mm256_storeu_si256(o, out0);
        _mm256_storeu_si256(o + 1, out1);
        _mm256_storeu_si256(o + 2, out2);
        in += 128;
        out += 96;
    }
    // Each 32-byte store writes eight bytes beyond its 24, which the next
    // store overwrites; three pixels must remain after the step for them.
    const __m256i join = _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 3, 7);
    for (; done + 11 <= width; done += 8) {
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), _mm256_permutevar8x32_epi32(packEightAvx2(in), join));
        in += 32;
        out += 24;
    }
    packScalar(in, out, width - done);
}
#endif

void packPlain(const uint8_t* in, uint8_t* out, uint32_t width) noexcept
{
    packScalar(in, out, width);
}

std::vector<RowPacker> supportedPackers()
{
    std::vector<RowPacker> packers;
#if defined(__x86_64__)
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx2"))
        packers.push_back({ "avx2", &packAvx2 });
    if (__builtin_cpu_supports("ssse3"))
        packers.push_back({ "ssse3", &packSsse3 });
    packers.push_back({ "sse2", &packSse2 });
#endif
    packers.push_back({ "scalar", &packPlain });
    return packers;
}

} // namespace

const std::vector<RowPacker>& RowPackers()
{
    static const std::vector<RowPacker> packers = supportedPackers();
    return packers;
}

void PackYuv422Row(const uint8_t* in, uint8_t* out, uint32_t width) noexcept
{
    // Chosen once; every later call goes straight to the packer.
    static const auto pack = RowPackers().front().pack;
    pack(in, out, width);
}

uint32_t ConvertFrame(OutputFormat format, const uint8_t* pixels, size_t pixelBytes, const ImageRows& image) noexcept
{
    const OutputGeometry geometry = GeometryOf(format);
    const size_t inRow = static_cast<size_t>(image.width) * geometry.inputBytesPerPixel;
    const size_t wholeRows = inRow == 0 ? image.height : pixelBytes / inRow;
    const uint32_t rows = wholeRows < image.height ? static_cast<uint32_t>(wholeRows) : image.height;
    for (uint32_t r = 0; r < rows; ++r) {
        const uint8_t* in = pixels + r * inRow;
        uint8_t* out = image.data + static_cast<size_t>(r) * image.widthStep;
        if (format == OutputFormat::YuyvInRgb24)
            PackYuv422Row(in, out, image.width);
        else
            std::memcpy(out, in, inRow);
    }
    if (rows < image.height) {
        std::memset(image.data + static_cast<size_t>(rows) * image.widthStep, 0,
                    static_cast<size_t>(image.height - rows) * image.widthStep);
    }
    return rows;
}

void ClearImage(const ImageRows& image) noexcept
{
    std::memset(image.data, 0, static_cast<size_t>(image.height) * image.widthStep);
}

} // namespace qir::raw
