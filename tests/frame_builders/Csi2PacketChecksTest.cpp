// The CSI-2 header error-correction byte and payload checksum the builders
// write: known values of the standard, and the correcting property that a
// receiver relies on.
#include "Csi2PacketChecks.h"
#include "FrameChecksum.h"
#include "Fnv1a64.h"

#include <gtest/gtest.h>

#include <bit>
#include <set>
#include <span>
#include <string>
#include <vector>

namespace vxqir::frames {
namespace {

TEST(Csi2HeaderEcc, GivesTheStandardsValueForALongPacketHeader)
{
    EXPECT_EQ(csi2HeaderEcc(0x37, 0x01F0), 0x3F);
    EXPECT_EQ(csi2HeaderEcc(0x00, 0x0000), 0x00);
}

TEST(Csi2HeaderEcc, LeavesTheTopTwoBitsClear)
{
    for (uint32_t bits : { 0xFFFFFFu, 0x123456u, 0xABCDEFu, 0x800000u })
        EXPECT_EQ(csi2HeaderEcc(static_cast<uint8_t>(bits), static_cast<uint16_t>(bits >> 8)) & 0xC0, 0) << bits;
}

// A single flipped header bit must give a syndrome (the xor of the sent and
// the recomputed byte) that is unique to that bit and names more than one
// parity bit, or a receiver could not correct it.
TEST(Csi2HeaderEcc, EverySingleBitErrorHasItsOwnCorrectableSyndrome)
{
    const uint8_t id = 0x2C;
    const uint16_t wordCount = 3840;
    const uint8_t sent = csi2HeaderEcc(id, wordCount);
    const uint32_t header = id | (uint32_t{ wordCount } << 8);
    std::set<uint8_t> syndromes;
    for (int bit = 0; bit < 24; ++bit) {
        const uint32_t flipped = header ^ (1u << bit);
        const uint8_t syndrome =
            sent ^ csi2HeaderEcc(static_cast<uint8_t>(flipped), static_cast<uint16_t>(flipped >> 8));
        EXPECT_GE(std::popcount(syndrome), 3) << "bit " << bit;
        EXPECT_TRUE(syndromes.insert(syndrome).second) << "bit " << bit << " shares its syndrome";
    }
}

struct ChecksumCase {
    const char* name;
    std::vector<uint8_t> payload;
    uint16_t checksum;
};

void PrintTo(const ChecksumCase& c, std::ostream* os)
{
    *os << c.name;
}

class Csi2PayloadChecksum : public ::testing::TestWithParam<ChecksumCase> { };

TEST_P(Csi2PayloadChecksum, MatchesTheKnownValue)
{
    EXPECT_EQ(csi2PayloadChecksum(GetParam().payload), GetParam().checksum);
}

INSTANTIATE_TEST_SUITE_P(
    KnownPayloads, Csi2PayloadChecksum,
    ::testing::Values(ChecksumCase{ "StandardExampleOne",
                                    { 0xFF, 0x00, 0x00, 0x02, 0xB9, 0xDC, 0xF3, 0x72, 0xBB, 0xD4, 0xB8, 0x5A,
                                      0xC8, 0x75, 0xC2, 0x7C, 0x81, 0xF8, 0x05, 0xDF, 0xFF, 0x00, 0x00, 0x01 },
                                    0x00F0 },
                      ChecksumCase{ "StandardExampleTwo",
                                    { 0xFF, 0x00, 0x00, 0x00, 0x1E, 0xF0, 0x1E, 0xC7, 0x4F, 0x82, 0x78, 0xC5,
                                      0x82, 0xE0, 0x8C, 0x70, 0xD2, 0x3C, 0x78, 0xE9, 0xFF, 0x00, 0x00, 0x01 },
                                    0xE569 },
                      ChecksumCase{ "DigitsOneToNine", { '1', '2', '3', '4', '5', '6', '7', '8', '9' }, 0x6F91 },
                      ChecksumCase{ "EmptyPayload", {}, 0xFFFF }),
    [](const auto& testCase) { return std::string(testCase.param.name); });

// The checksum runs eight bytes a step with a byte-wise tail: every length
// and alignment around the step agrees with the bit-by-bit definition.
TEST(Csi2PayloadChecksumSteps, AgreeWithTheBitwiseDefinitionAtEveryLengthAndAlignment)
{
    std::vector<uint8_t> bytes(80);
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<uint8_t>(i * 167 + 13);
    const auto bitwise = [](std::span<const uint8_t> payload) {
        uint16_t crc = 0xFFFF;
        for (uint8_t byte : payload) {
            crc ^= byte;
            for (int bit = 0; bit < 8; ++bit)
                crc = (crc & 1u) ? static_cast<uint16_t>((crc >> 1) ^ 0x8408) : static_cast<uint16_t>(crc >> 1);
        }
        return crc;
    };
    for (size_t start = 0; start < 8; ++start)
        for (size_t length = 0; start + length <= bytes.size(); ++length) {
            const auto payload = std::span<const uint8_t>(bytes).subspan(start, length);
            ASSERT_EQ(csi2PayloadChecksum(payload), bitwise(payload)) << "start " << start << ", length " << length;
        }
}

TEST(FrameChecksum, AgreesWithTheEmulatedUnitsChecksumFedInPieces)
{
    std::vector<uint8_t> bytes(10007);
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<uint8_t>(i * 31 + 7);
    Fnv1a64 unit;
    unit.update(bytes);
    FrameChecksum ours;
    ours.update(std::span(bytes).first(3));
    ours.update(std::span(bytes).subspan(3));
    EXPECT_EQ(ours.value(), unit.value());
    EXPECT_EQ(checksumText(ours.value()), Fnv1a64::toHex(unit.value()));
}

TEST(FrameChecksum, ZeroFillCountsLikeZeroBytes)
{
    const std::vector<uint8_t> zeros(333, 0);
    FrameChecksum fed;
    fed.update(zeros);
    FrameChecksum filled;
    filled.updateZeros(zeros.size());
    EXPECT_EQ(fed.value(), filled.value());
}

TEST(FrameSums, GiveTheChecksumAndTheDigestOfTheBytesFedInPieces)
{
    // Lines and a zero fill, as a coded image is sent.
    std::vector<uint8_t> frame(3 * 5760 + 1000, 0);
    for (size_t i = 0; i < 3 * 5760; ++i)
        frame[i] = static_cast<uint8_t>(i * 13 + 1);
    FrameSumsHasher sums;
    for (size_t line = 0; line < 3; ++line)
        sums.update(std::span<const uint8_t>(frame).subspan(line * 5760, 5760));
    sums.updateZeros(1000);
    FrameChecksum whole;
    whole.update(frame);
    EXPECT_EQ(sums.value().checksum, whole.value());
    EXPECT_EQ(sums.value().digest, FrameDigest::of(frame));
    EXPECT_EQ(sumsOfPackets({ PacketBytes(frame).first(5760), PacketBytes(frame).subspan(5760) }), sums.value());
}

} // namespace
} // namespace vxqir::frames
