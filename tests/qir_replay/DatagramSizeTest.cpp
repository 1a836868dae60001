// The "MaxPayLoadSize" chosen for an MTU: the largest that cuts a line into
// equal datagrams, else the largest multiple of 8 within the MTU.
#include "DatagramSize.h"

#include <gtest/gtest.h>

#include <string>

namespace qir::replay {
namespace {

struct MtuCase {
    const char* name;
    uint32_t mtu;
    uint32_t lineBytes;
    uint16_t maxPayload;
    uint32_t datagrams;
    bool equal;
};

class DatagramSizeForMtu : public ::testing::TestWithParam<MtuCase> { };

TEST_P(DatagramSizeForMtu, IsTheLargestThatCutsTheLineEqually)
{
    const MtuCase& c = GetParam();
    const DatagramPlan plan = planForMtu(c.mtu, c.lineBytes);
    EXPECT_EQ(plan.maxPayloadSize, c.maxPayload);
    EXPECT_EQ(plan.datagramsPerLine, c.datagrams);
    EXPECT_EQ(plan.equal, c.equal);
    EXPECT_LE(plan.maxPayloadSize + kDatagramOverheadBytes, c.mtu) << "a datagram must fit the MTU";
    // The library's cut under the chosen size gives the same count.
    const DatagramPlan cut = planFor(plan.maxPayloadSize, c.lineBytes);
    EXPECT_EQ(cut.datagramsPerLine, c.datagrams);
    EXPECT_EQ(cut.equal, c.equal);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DatagramSizeForMtu,
    ::testing::Values(
        // 1920 RGB pixels: four of 1440 instead of 1448 + 1448 + 1448 + 1416.
        MtuCase{ "RgbLineAt1500", 1500, 5760, 1440, 4, true },
        // Whole lines fit: the whole room, which is the unit client's default.
        MtuCase{ "RgbLineAt9000", 9000, 5760, 8948, 1, true },
        MtuCase{ "LineFillingTheRoomExactly", 1500, 1448, 1448, 1, true },
        // Fits whole although no multiple of 8: still one datagram.
        MtuCase{ "OddLineThatFits", 1500, 1447, 1448, 1, true },
        // Mono 16-bit 1920 pixels: three of 1280.
        MtuCase{ "Mono16LineAt1500", 1500, 3840, 1280, 3, true },
        // 4K RGB line (11520): two of 5760 within 9000.
        MtuCase{ "UhdRgbLineAt9000", 9000, 11520, 5760, 2, true },
        // Not a multiple of 8: no equal cut; the largest multiple of 8.
        MtuCase{ "OddLineAt1500", 1500, 5763, 1448, 4, false }, MtuCase{ "OddLineAt9000", 9000, 17901, 8944, 3, false },
        // 8 x 721: seven of 824 rather than three of 1448 and one of 1424.
        MtuCase{ "EqualCutWithMoreDatagrams", 1500, 5768, 824, 7, true },
        // 8 x 1151 (1151 prime): the only equal cut within the room is 1151
        // pieces of 8, far more datagrams than 8944 + 264.
        MtuCase{ "EqualCutTooSmall", 9000, 9208, 8944, 2, false },
        // The smallest MTU leaves 16 bytes: pieces of 16 or 8.
        MtuCase{ "SmallestMtu", 68, 48, 16, 3, true }, MtuCase{ "SmallestMtuOddLine", 68, 50, 16, 4, false },
        MtuCase{ "LargestMtu", 65535, 65535, 65480, 2, false }, MtuCase{ "EmptyLine", 1500, 0, 1448, 0, true }),
    [](const ::testing::TestParamInfo<MtuCase>& testCase) { return std::string(testCase.param.name); });

TEST(DatagramSizePlan, SaysHowALineIsCutInTheSummary)
{
    EXPECT_EQ(planText(planForMtu(1500, 5760), 1500u),
              "MaxPayLoadSize 1440 (MTU 1500): lines of 5760 bytes in 4 equal datagrams");
    EXPECT_EQ(planText(planFor(kDefaultMaxPayload, 5760), std::nullopt),
              "MaxPayLoadSize 8948 (the unit client's default): lines of 5760 bytes in 1 datagram");
    EXPECT_EQ(planText(planFor(1448, 5760), std::nullopt),
              "MaxPayLoadSize 1448 (the unit client's default): lines of 5760 bytes in 4 datagrams, the last shorter");
}

} // namespace
} // namespace qir::replay
