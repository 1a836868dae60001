// VXQIR_ReplayStreamBlocks through the exported functions and the
// process-wide core: it puts on the wire exactly what one
// VXQIR_ReplayStreamData per block puts there, stops where that loop would
// stop, and checks its arguments like the other calls.
#include "ScriptedUnit.h"
#include "VXQIRApiBatch.h"
#include "VXQIRApiProgress.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vxqir::test {
namespace {

constexpr uint64_t kTimestamp = 0x1122334455667788ull;
constexpr uint8_t kStream = 3;

// A run of blocks: `frames` frames of `height` declared lines, each frame
// sending one block per entry of `sizes` (line number = index). The unit
// has `fifoEntries` entries and reports `freeEntries` of them free once,
// before the run; it never reports again, so flow control stops the run
// when the free entries run out.
struct RunCase {
    const char* name;
    uint16_t maxPayload;
    uint16_t height;
    uint16_t frames;
    std::vector<uint16_t> sizes;
    uint32_t fifoEntries;
    uint32_t freeEntries;
    VXTQirError result;  // of the run
    uint32_t blocksSent; // whole blocks before the run stopped
};

struct Block {
    VXTQirPacketPropertiesT properties;
    Bytes payload;
};

std::vector<Block> blocksOf(const RunCase& c)
{
    std::vector<Block> blocks;
    for (uint16_t frame = 0; frame < c.frames; ++frame) {
        for (size_t line = 0; line < c.sizes.size(); ++line) {
            Block block{ .properties = { .timestamp = kTimestamp + blocks.size(),
                                         .frameNumber = static_cast<uint16_t>(40 + frame),
                                         .lineNumber = static_cast<uint16_t>(line),
                                         .streamID = kStream },
                         .payload = Bytes(c.sizes[line]) };
            block.payload.reserve(1); // a valid pointer for an empty block too
            for (size_t i = 0; i < block.payload.size(); ++i)
                block.payload[i] = static_cast<uint8_t>((i * 13 + blocks.size() * 5 + 1) % 253);
            blocks.push_back(std::move(block));
        }
    }
    return blocks;
}

// Datagrams the first `count` blocks make under the cutting rule: pieces of
// the largest multiple of 8 within maxPayload, the rest last; none for an
// empty block.
size_t datagramsOf(const RunCase& c, const std::vector<Block>& blocks, size_t count)
{
    const size_t full = c.maxPayload - c.maxPayload % 8;
    size_t datagrams = 0;
    for (size_t i = 0; i < count; ++i) {
        size_t rest = blocks[i].payload.size();
        if (rest == 0)
            continue;
        for (; rest > c.maxPayload; rest -= full)
            ++datagrams;
        ++datagrams;
    }
    return datagrams;
}

// A registered and initialised channel of a unit of its own, with the free
// entries of one status already taken in.
class PreparedChannel {
public:
    PreparedChannel(uint16_t maxPayload, uint16_t height, uint32_t fifoEntries, uint32_t freeEntries)
    {
        unit_.setFifoEntries(fifoEntries);
        // A short wait for room: the runs that fill the unit end in Timeout.
        const VXTQirInputInterfaceT config = unit_.config(maxPayload, 1000, 200);
        EXPECT_EQ(VXQIR_RegisterOutputChannel(&config, 0, &handle_), NoError);
        EXPECT_EQ(VXQIR_InitOutputChannel(handle_, 1920, height), NoError);
        unit_.sendStatus(0, STATUS_FLAG_ENABLED, 0, freeEntries, 1);
        sync();
        VXTQirChannelProgressT progress{};
        EXPECT_EQ(VXQIR_GetChannelProgress(handle_, &progress), NoError);
        EXPECT_EQ(progress.statusCount, 1u);
    }
    ~PreparedChannel() { EXPECT_EQ(VXQIR_UnregisterOutputChannel(handle_), NoError); }
    PreparedChannel(const PreparedChannel&) = delete;
    PreparedChannel& operator=(const PreparedChannel&) = delete;

    // A control round trip: the listener has taken in every status the unit
    // sent before its reply.
    void sync()
    {
        uint16_t width = 0, height = 0;
        EXPECT_EQ(VXQIR_GetFrameSize(handle_, &width, &height), NoError);
    }

    VXTQirChannelHandle handle() const { return handle_; }
    ScriptedUnit& unit() { return unit_; }

private:
    ScriptedUnit unit_;
    VXTQirChannelHandle handle_ = -1;
};

struct Outcome {
    VXTQirError result = InternalError;
    uint32_t blocksSent = 0;
    std::vector<Bytes> datagrams;
};

enum class Path { OneCallPerBlock, Batched };

Outcome run(const RunCase& c, Path path)
{
    const std::vector<Block> blocks = blocksOf(c);
    PreparedChannel channel(c.maxPayload, c.height, c.fifoEntries, c.freeEntries);
    Outcome outcome;
    if (path == Path::OneCallPerBlock) {
        outcome.result = NoError;
        for (const Block& block : blocks) {
            outcome.result = VXQIR_ReplayStreamData(channel.handle(), &block.properties, block.payload.data(),
                                                    static_cast<uint16_t>(block.payload.size()));
            if (outcome.result != NoError)
                break;
            ++outcome.blocksSent;
        }
    } else {
        std::vector<VXTQirReplayBlockT> run;
        for (const Block& block : blocks)
            run.push_back(VXTQirReplayBlockT{ .properties = block.properties,
                                              .payload = block.payload.data(),
                                              .payloadSize = static_cast<uint16_t>(block.payload.size()) });
        outcome.blocksSent = 12345;
        outcome.result = VXQIR_ReplayStreamBlocks(channel.handle(), run.data(), static_cast<uint32_t>(run.size()),
                                                  &outcome.blocksSent);
    }
    const size_t expected = datagramsOf(c, blocks, outcome.blocksSent);
    for (const Received& datagram : channel.unit().waitForData(expected))
        outcome.datagrams.push_back(datagram.bytes);
    return outcome;
}

class CApiBatch : public ::testing::TestWithParam<RunCase> { };

TEST_P(CApiBatch, SendsTheDatagramsOfOneCallPerBlockAndStopsWhereItStops)
{
    const RunCase& c = GetParam();
    const Outcome perBlock = run(c, Path::OneCallPerBlock);
    const Outcome batched = run(c, Path::Batched);

    EXPECT_EQ(perBlock.result, c.result);
    EXPECT_EQ(perBlock.blocksSent, c.blocksSent);
    EXPECT_EQ(batched.result, c.result);
    EXPECT_EQ(batched.blocksSent, c.blocksSent);
    const size_t expected = datagramsOf(c, blocksOf(c), c.blocksSent);
    EXPECT_EQ(perBlock.datagrams.size(), expected);
    ASSERT_EQ(batched.datagrams.size(), perBlock.datagrams.size());
    for (size_t i = 0; i < batched.datagrams.size(); ++i)
        EXPECT_EQ(batched.datagrams[i], perBlock.datagrams[i]) << "datagram " << i;
}

std::vector<uint16_t> repeated(uint16_t size, size_t count)
{
    return std::vector<uint16_t>(count, size);
}

INSTANTIATE_TEST_SUITE_P(Runs, CApiBatch,
                         ::testing::Values(RunCase{ .name = "WholeFrameOfMultiDatagramLines",
                                                    .maxPayload = 1448,
                                                    .height = 6,
                                                    .frames = 1,
                                                    .sizes = repeated(5760, 6),
                                                    .fifoEntries = 100,
                                                    .freeEntries = 100,
                                                    .result = NoError,
                                                    .blocksSent = 6 },
                                           RunCase{ .name = "TwoFramesInOneRun",
                                                    .maxPayload = 8948,
                                                    .height = 3,
                                                    .frames = 2,
                                                    .sizes = { 9000, 17896, 8 },
                                                    .fifoEntries = 100,
                                                    .freeEntries = 100,
                                                    .result = NoError,
                                                    .blocksSent = 6 },
                                           RunCase{ .name = "PayloadLimitNotAMultipleOf8",
                                                    .maxPayload = 1001,
                                                    .height = 5,
                                                    .frames = 1,
                                                    .sizes = { 3001, 7, 1001, 1002, 2002 },
                                                    .fifoEntries = 100,
                                                    .freeEntries = 100,
                                                    .result = NoError,
                                                    .blocksSent = 5 },
                                           RunCase{ .name = "EmptyBlockBetweenLines",
                                                    .maxPayload = 1448,
                                                    .height = 4,
                                                    .frames = 1,
                                                    .sizes = { 100, 0, 3000, 0 },
                                                    .fifoEntries = 100,
                                                    .freeEntries = 100,
                                                    .result = NoError,
                                                    .blocksSent = 4 },
                                           // 10 entries, 2 must stay free: 3 of 4 free entries can be taken,
                                           // the fourth block waits for a status that never comes.
                                           RunCase{ .name = "UnitFullInTheMiddle",
                                                    .maxPayload = 1448,
                                                    .height = 6,
                                                    .frames = 1,
                                                    .sizes = repeated(3000, 6),
                                                    .fifoEntries = 10,
                                                    .freeEntries = 4,
                                                    .result = Timeout,
                                                    .blocksSent = 3 },
                                           RunCase{ .name = "UnitFullBeforeTheFirstBlock",
                                                    .maxPayload = 1448,
                                                    .height = 2,
                                                    .frames = 1,
                                                    .sizes = repeated(3000, 2),
                                                    .fifoEntries = 10,
                                                    .freeEntries = 1,
                                                    .result = Timeout,
                                                    .blocksSent = 0 }),
                         [](const ::testing::TestParamInfo<RunCase>& testCase) {
                             return std::string(testCase.param.name);
                         });

// Argument checks -----------------------------------------------------------

struct ArgumentCase {
    const char* name;
    bool knownHandle;
    bool nullBlocks;
    uint32_t blockCount; // of the two prepared blocks
    bool nullBlocksSent;
    bool nullSecondPayload;
    VXTQirError result;
};

class CApiBatchArguments : public ::testing::TestWithParam<ArgumentCase> { };

TEST_P(CApiBatchArguments, AreCheckedBeforeAnythingIsSent)
{
    const ArgumentCase& c = GetParam();
    PreparedChannel channel(1448, 2, 100, 100);
    const uint8_t payload[16] = { 1, 2, 3 };
    VXTQirReplayBlockT blocks[2] = {
        { .properties = { .timestamp = 1, .frameNumber = 1, .lineNumber = 0, .streamID = 0 },
          .payload = payload,
          .payloadSize = sizeof(payload) },
        { .properties = { .timestamp = 2, .frameNumber = 1, .lineNumber = 1, .streamID = 0 },
          .payload = c.nullSecondPayload ? nullptr : payload,
          .payloadSize = sizeof(payload) },
    };
    const VXTQirChannelHandle handle = c.knownHandle ? channel.handle() : channel.handle() + 1000;
    uint32_t sent = 77;
    EXPECT_EQ(VXQIR_ReplayStreamBlocks(handle, c.nullBlocks ? nullptr : blocks, c.blockCount,
                                       c.nullBlocksSent ? nullptr : &sent),
              c.result);
    if (!c.nullBlocksSent) {
        EXPECT_EQ(sent, 0u) << "the count is written on every result";
    }

    // Nothing went out: the first datagram the unit gets is the marker's.
    const VXTQirPacketPropertiesT marker{ .timestamp = 9, .frameNumber = 9, .lineNumber = 1, .streamID = 0 };
    ASSERT_EQ(VXQIR_ReplayStreamData(channel.handle(), &marker, payload, sizeof(payload)), NoError);
    const std::vector<Received> data = channel.unit().waitForData(1);
    ASSERT_EQ(data.size(), 1u);
    EXPECT_EQ(sensorHeader(data[0]).frameNumber, 9);
    EXPECT_EQ(sensorHeader(data[0]).packetNumber, 0);
}

INSTANTIATE_TEST_SUITE_P(Cases, CApiBatchArguments,
                         ::testing::Values(ArgumentCase{ .name = "UnknownHandleBeforeNullPointers",
                                                         .knownHandle = false,
                                                         .nullBlocks = true,
                                                         .blockCount = 2,
                                                         .nullBlocksSent = true,
                                                         .nullSecondPayload = true,
                                                         .result = InvalidChannelHandle },
                                           ArgumentCase{ .name = "UnknownHandleWithEmptyRun",
                                                         .knownHandle = false,
                                                         .nullBlocks = false,
                                                         .blockCount = 0,
                                                         .nullBlocksSent = false,
                                                         .nullSecondPayload = false,
                                                         .result = InvalidChannelHandle },
                                           ArgumentCase{ .name = "NullBlocksSent",
                                                         .knownHandle = true,
                                                         .nullBlocks = false,
                                                         .blockCount = 2,
                                                         .nullBlocksSent = true,
                                                         .nullSecondPayload = false,
                                                         .result = InvalidPointer },
                                           ArgumentCase{ .name = "NullBlocks",
                                                         .knownHandle = true,
                                                         .nullBlocks = true,
                                                         .blockCount = 2,
                                                         .nullBlocksSent = false,
                                                         .nullSecondPayload = false,
                                                         .result = InvalidPointer },
                                           ArgumentCase{ .name = "NullPayloadAfterAGoodBlock",
                                                         .knownHandle = true,
                                                         .nullBlocks = false,
                                                         .blockCount = 2,
                                                         .nullBlocksSent = false,
                                                         .nullSecondPayload = true,
                                                         .result = InvalidPointer },
                                           ArgumentCase{ .name = "NullBlocksWithoutBlocksIsAnEmptyRun",
                                                         .knownHandle = true,
                                                         .nullBlocks = true,
                                                         .blockCount = 0,
                                                         .nullBlocksSent = false,
                                                         .nullSecondPayload = false,
                                                         .result = NoError },
                                           ArgumentCase{ .name = "EmptyRun",
                                                         .knownHandle = true,
                                                         .nullBlocks = false,
                                                         .blockCount = 0,
                                                         .nullBlocksSent = false,
                                                         .nullSecondPayload = false,
                                                         .result = NoError }),
                         [](const ::testing::TestParamInfo<ArgumentCase>& testCase) {
                             return std::string(testCase.param.name);
                         });

} // namespace
} // namespace vxqir::test
