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
    uint16_t crc = 0xFFFF;
    for (uint8_t byte : payload) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1u) ? static_cast<uint16_t>((crc >> 1) ^ CRC_POLYNOMIAL_REFLECTED)
                             : static_cast<uint16_t>(crc >> 1);
    }
    return crc;
}

} // namespace vxqir::frames
