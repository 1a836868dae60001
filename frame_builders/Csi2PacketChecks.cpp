#include "Csi2PacketChecks.h"

#include <array>
#include <bit>

namespace vxqir::frames {

namespace {

// Which of the 24 header bits each parity bit covers (bit n of a mask is
// header bit n). Every header bit is covered by a distinct set of three or
// five parity bits, which is what makes a single flipped bit correctable.
constexpr std::array<uint32_t, 6> PARITY_MASKS = [] {
    constexpr int P0[] = { 0, 1, 2, 4, 5, 7, 10, 11, 13, 16, 20, 21, 22, 23 };
    constexpr int P1[] = { 0, 1, 3, 4, 6, 8, 10, 12, 14, 17, 20, 21, 22, 23 };
    constexpr int P2[] = { 0, 2, 3, 5, 6, 9, 11, 12, 15, 18, 20, 21, 22 };
    constexpr int P3[] = { 1, 2, 3, 7, 8, 9, 13, 14, 15, 19, 20, 21, 23 };
    constexpr int P4[] = { 4, 5, 6, 7, 8, 9, 16, 17, 18, 19, 20, 22, 23 };
    constexpr int P5[] = { 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 21, 22, 23 };
    std::array<uint32_t, 6> masks{};
    for (int b : P0)
        masks[0] |= 1u << b;
    for (int b : P1)
        masks[1] |= 1u << b;
    for (int b : P2)
        masks[2] |= 1u << b;
    for (int b : P3)
        masks[3] |= 1u << b;
    for (int b : P4)
        masks[4] |= 1u << b;
    for (int b : P5)
        masks[5] |= 1u << b;
    return masks;
}();

constexpr uint16_t CRC_POLYNOMIAL_REFLECTED = 0x8408; // x^16 + x^12 + x^5 + 1, least significant bit first

/// table[0][b]: the CRC register after shifting byte b through it; table[k][b]:
/// the same followed by k zero bytes.
constexpr std::array<std::array<uint16_t, 256>, 8> CRC_TABLES = [] {
    std::array<std::array<uint16_t, 256>, 8> tables{};
    for (uint32_t byte = 0; byte < 256; ++byte) {
        auto crc = static_cast<uint16_t>(byte);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1u) ? static_cast<uint16_t>((crc >> 1) ^ CRC_POLYNOMIAL_REFLECTED)
                             : static_cast<uint16_t>(crc >> 1);
        tables[0][byte] = crc;
    }
    for (size_t k = 1; k < tables.size(); ++k)
        for (size_t byte = 0; byte < 256; ++byte)
            tables[k][byte] =
                static_cast<uint16_t>((tables[k - 1][byte] >> 8) ^ tables[0][tables[k - 1][byte] & 0xFFu]);
    return tables;
}();

} // namespace

uint8_t csi2HeaderEcc(uint8_t dataIdentifier, uint16_t wordCount)
{
    const uint32_t bits = uint32_t{ dataIdentifier } | (uint32_t{ wordCount } << 8);
    uint8_t ecc = 0;
    for (size_t p = 0; p < PARITY_MASKS.size(); ++p)
        ecc |= static_cast<uint8_t>((std::popcount(bits & PARITY_MASKS[p]) & 1) << p);
    return ecc;
}

uint16_t csi2PayloadChecksum(std::span<const uint8_t> payload)
{
    // Eight bytes per step through eight tables: a recording's payloads are
    // checked at the speed the page cache delivers them.
    const auto& table = CRC_TABLES;
    uint16_t crc = 0xFFFF;
    const uint8_t* at = payload.data();
    size_t left = payload.size();
    for (; left >= 8; left -= 8, at += 8) {
        crc = static_cast<uint16_t>(table[7][(at[0] ^ crc) & 0xFFu] ^ table[6][at[1] ^ (crc >> 8)] ^ table[5][at[2]] ^
                                    table[4][at[3]] ^ table[3][at[4]] ^ table[2][at[5]] ^ table[1][at[6]] ^
                                    table[0][at[7]]);
    }
    for (; left > 0; --left, ++at)
        crc = static_cast<uint16_t>((crc >> 8) ^ table[0][(crc ^ *at) & 0xFFu]);
    return crc;
}

} // namespace vxqir::frames
