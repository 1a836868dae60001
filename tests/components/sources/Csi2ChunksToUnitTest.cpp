// MIPI CSI-2 chunk containers ("KOVAMipiCsi2Frame" samples) from
// HostCsi2ChunkSource through VxQirUnitClient into the emulated unit: the
// bus payloads of the data chunks arrive as lines, frame markers and meta
// data stay behind, and the chunk kinds of the run's first frame decide
// what is sent later.
#include "CollectedAssertions.h"
#include "SourceToUnitFixture.h"

#include <gmock/gmock.h>

namespace sources_test {
namespace {

using ::testing::HasSubstr;

constexpr const char* LINES = "Count = 6, DataChunks = 40, PayloadBytes = 1500, FrameStart = true, FrameEnd = true";

class Csi2ChunksToUnit : public SourceToUnit { };

TEST_F(Csi2ChunksToUnit, DataChunksArriveAsLinesWithTheSourcesChecksums)
{
    const host::RunResult result = RunSource("HostCsi2ChunkSource", std::string(LINES) + ", MetaData = true", "");
    EXPECT_EQ(result.failed, 0) << log.Text();
    ExpectReceivedAsSent(40, 1500);
    EXPECT_TRUE(qir::test::HasReport(log, "unit", "Total packets per frame: 40"));
}

TEST_F(Csi2ChunksToUnit, EmbeddedDataOfTheFirstFrameIsSentAheadOfTheLines)
{
    const host::RunResult result =
        RunSource("HostCsi2ChunkSource", std::string(LINES) + ", EmbeddedChunks = 2, EmbeddedBytes = 64", "");
    EXPECT_EQ(result.failed, 0) << log.Text();
    std::vector<uint32_t> lines(42, 1500);
    lines[0] = lines[1] = 64;
    ExpectReceivedAsSent(lines);
}

TEST_F(Csi2ChunksToUnit, EmbeddedDataFirstSeenInALaterFrameIsLeftOut)
{
    const host::RunResult result =
        RunSource("HostCsi2ChunkSource", std::string(LINES) + ", EmbeddedChunks = 2, EmbeddedFromFrame = 3", "");
    EXPECT_EQ(result.failed, 0) << log.Text();
    ExpectReceivedAsSent(40, 1500);
}

// A frame with one data chunk fewer is sent whole under its own frame
// number, with a warning; it lacks the line that carries the end-of-frame
// mark, so the unit counts it incomplete. The frames around it arrive whole.
TEST_F(Csi2ChunksToUnit, AFrameWithADataChunkFewerIsSentWithAWarning)
{
    const host::RunResult result = RunSource("HostCsi2ChunkSource", std::string(LINES) + ", ShortFrame = 4", "");
    EXPECT_EQ(result.failed, 0) << log.Text();
    EXPECT_TRUE(qir::test::HasReport(log, "unit", "Packet number (39) does not match height (40)"));

    const std::vector<SentFrame> sent = Sent();
    ASSERT_EQ(sent.size(), 6u);
    const std::vector<ReceivedFrame> received = Received(sent.size() - 3); // the short frame and two dropped at most
    ASSERT_FALSE(received.empty());
    const size_t dropped = DroppedAtStart(sent, received);
    ASSERT_LE(dropped, 2u) << log.Text(); // samples the unit client drops before the unit's first status
    ASSERT_EQ(received.size(), sent.size() - dropped - 1) << log.Text();
    size_t r = 0;
    for (size_t s = dropped; s < sent.size(); ++s) {
        const auto frameNumber = static_cast<uint16_t>(s - dropped);
        if (s == 4) {
            EXPECT_EQ(sent[s].packets, 39u);
            continue;
        }
        SCOPED_TRACE("frame " + std::to_string(s));
        EXPECT_EQ(received[r].frameNumber, frameNumber);
        EXPECT_EQ(received[r].checksum, sent[s].checksum);
        ++r;
    }
    EXPECT_EQ(Channel().frames.framesIncomplete, 1u);
    EXPECT_EQ(Channel().packetGaps, 0u);
}

} // namespace
} // namespace sources_test
