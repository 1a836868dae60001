// Cutting blocks into sensor datagrams under flow control, on loopback.
#include "ApiFixture.h"

#include <numeric>
#include <string>

namespace vxqir::test {
namespace {

Bytes block(size_t size)
{
    Bytes bytes(size);
    std::iota(bytes.begin(), bytes.end(), uint8_t{ 1 });
    return bytes;
}

VXTQirPacketPropertiesT packet(uint16_t line, uint16_t frame = 9)
{
    VXTQirPacketPropertiesT p{};
    p.timestamp = 0x1122334455667788ull;
    p.frameNumber = frame;
    p.lineNumber = line;
    p.streamID = 4;
    return p;
}

struct CutCase {
    uint16_t maxPayload;
    uint16_t blockSize;
    std::vector<size_t> payloads;
};

class BlockCutting : public ApiFixture, public ::testing::WithParamInterface<CutCase> { };

TEST_P(BlockCutting, CutsIntoMultiplesOfEightAndMarksTheEndOfLine)
{
    const CutCase& c = GetParam();
    const VXTQirInputInterfaceT config = unit_.config(c.maxPayload);
    const VXTQirChannelHandle handle = readyChannel(config);
    const Bytes bytes = block(c.blockSize);
    const VXTQirPacketPropertiesT properties = packet(3);
    ASSERT_EQ(api_->replayStreamData(handle, &properties, bytes.data(), c.blockSize), NoError);

    const std::vector<Received> data = unit_.waitForData(c.payloads.size());
    ASSERT_EQ(data.size(), c.payloads.size());
    Bytes reassembled;
    for (size_t i = 0; i < data.size(); ++i) {
        const ReplaySensorMessageHeader header = sensorHeader(data[i]);
        EXPECT_EQ(data[i].bytes.size(), SENSOR_HEADER_SIZE + c.payloads[i]);
        EXPECT_EQ(+header.payloadSize, c.payloads[i]);
        EXPECT_EQ(+header.packetNumber, i);
        EXPECT_EQ(+header.version, 3);
        EXPECT_EQ(header.endOfLine(), i + 1 == data.size());
        EXPECT_FALSE(header.endOfFrame());
        EXPECT_EQ(header.flags & SENSOR_FLAG_RESERVED_MASK, 0);
        EXPECT_EQ(+header.frameNumber, 9);
        EXPECT_EQ(+header.lineNumber, 3);
        EXPECT_EQ(+header.streamID, 4);
        EXPECT_EQ(+header.timestamp, 0x1122334455667788ull);
        for (uint8_t reserved : header.reserved2)
            EXPECT_EQ(reserved, 0);
        reassembled.insert(reassembled.end(), data[i].bytes.begin() + SENSOR_HEADER_SIZE, data[i].bytes.end());
    }
    EXPECT_EQ(reassembled, bytes);
}

INSTANTIATE_TEST_SUITE_P(Sizes, BlockCutting,
                         ::testing::Values(CutCase{ 1450, 2000, { 1448, 552 } }, CutCase{ 1000, 1001, { 1000, 1 } },
                                           CutCase{ 1448, 1448, { 1448 } }, CutCase{ 8, 20, { 8, 8, 4 } },
                                           CutCase{ 13, 30, { 8, 8, 8, 6 } },
                                           CutCase{ 8948, 20000, { 8944, 8944, 2112 } }),
                         [](const auto& testCase) {
                             return "Block" + std::to_string(testCase.param.blockSize) + "Max" +
                                 std::to_string(testCase.param.maxPayload);
                         });

using SensorData = ApiFixture;

TEST_F(SensorData, TheLastLineOfTheDeclaredFrameCarriesTheEndOfFrameMark)
{
    const VXTQirInputInterfaceT config = unit_.config(1000);
    const VXTQirChannelHandle handle = readyChannel(config); // 1920 x 1080
    const Bytes bytes = block(1500);
    for (uint16_t line : { 1078, 1079, 0 }) {
        const VXTQirPacketPropertiesT properties = packet(line);
        ASSERT_EQ(api_->replayStreamData(handle, &properties, bytes.data(), 1500), NoError);
    }
    const std::vector<Received> data = unit_.waitForData(6);
    ASSERT_EQ(data.size(), 6u);
    const bool expectedEndOfFrame[] = { false, false, false, true, false, false };
    for (size_t i = 0; i < 6; ++i)
        EXPECT_EQ(sensorHeader(data[i]).endOfFrame(), expectedEndOfFrame[i]) << "datagram " << i;
}

TEST_F(SensorData, AnEmptyBlockSendsNothingButUsesOneFifoEntry)
{
    const VXTQirInputInterfaceT config = unit_.config();
    const VXTQirChannelHandle handle = readyChannel(config, 50);
    const VXTQirPacketPropertiesT properties = packet(0);
    const uint8_t byte = 0;
    ASSERT_EQ(api_->replayStreamData(handle, &properties, &byte, 0), NoError);
    EXPECT_EQ(api_->channel(handle)->bufferNotifier().freeBufferSlots(), 49u);
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_TRUE(unit_.data().empty());
}

TEST_F(SensorData, SendingBeforePreparationTimesOutWithoutSending)
{
    const VXTQirInputInterfaceT config = unit_.config(1448, 1000, 100);
    const VXTQirChannelHandle handle = registerChannel(config);
    const Bytes bytes = block(10);
    const VXTQirPacketPropertiesT properties = packet(0);
    EXPECT_EQ(api_->replayStreamData(handle, &properties, bytes.data(), 10), Timeout);
    EXPECT_TRUE(unit_.data().empty());
}

struct ThresholdCase {
    uint32_t freeEntries;
    VXTQirError expected;
};

class FlowThreshold : public ApiFixture, public ::testing::WithParamInterface<ThresholdCase> { };

TEST_P(FlowThreshold, HoldsBackBelowAFifthOfTheFifoFree)
{
    const VXTQirInputInterfaceT config = unit_.config(1448, 1000, 100);
    const VXTQirChannelHandle handle = readyChannel(config, GetParam().freeEntries);
    const Bytes bytes = block(10);
    const VXTQirPacketPropertiesT properties = packet(0);
    EXPECT_EQ(api_->replayStreamData(handle, &properties, bytes.data(), 10), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(FreeOfHundred, FlowThreshold,
                         ::testing::Values(ThresholdCase{ 19, Timeout }, ThresholdCase{ 20, NoError }),
                         [](const auto& testCase) { return "Free" + std::to_string(testCase.param.freeEntries); });

TEST_F(SensorData, AWaitingSenderGoesOnWhenTheUnitReportsRoom)
{
    const VXTQirInputInterfaceT config = unit_.config(1448, 1000, 5000);
    const VXTQirChannelHandle handle = readyChannel(config, 10);
    const Bytes bytes = block(10);
    const VXTQirPacketPropertiesT properties = packet(0);
    std::thread unit([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        unit_.sendStatus(0, STATUS_FLAG_ENABLED, 0, 80, 2);
    });
    EXPECT_EQ(api_->replayStreamData(handle, &properties, bytes.data(), 10), NoError);
    unit.join();
    EXPECT_EQ(unit_.waitForData(1).size(), 1u);
}

TEST_F(SensorData, APayloadTooLargeForTheNetworkIsAFragmentationError)
{
    const VXTQirInputInterfaceT config = unit_.config(65535);
    const VXTQirChannelHandle handle = readyChannel(config);
    const Bytes bytes = block(65535);
    const VXTQirPacketPropertiesT properties = packet(0);
    EXPECT_EQ(api_->replayStreamData(handle, &properties, bytes.data(), 65535), PacketFragmentation);
    EXPECT_EQ(api_->channel(handle)->nextPacketNumber(), 0); // the refused datagram is not counted
}

TEST_F(SensorData, DataGoesToTheBasePortPlusTheChannel)
{
    VXTQirInputInterfaceT config = unit_.config();
    config.dataBasePort = static_cast<uint16_t>(unit_.dataPort() - 2);
    VXTQirChannelHandle handle = -1;
    ASSERT_EQ(api_->registerOutputChannel(&config, 2, &handle), NoError);
    ASSERT_EQ(api_->initOutputChannel(handle, 8, 8), NoError);
    unit_.sendStatus(2, STATUS_FLAG_ENABLED, 0, 100, 1);
    const Bytes bytes = block(8);
    const VXTQirPacketPropertiesT properties = packet(7);
    EXPECT_TRUE(eventually([&] { return api_->replayStreamData(handle, &properties, bytes.data(), 8) == NoError; }));
    const std::vector<Received> data = unit_.waitForData(1);
    ASSERT_FALSE(data.empty());
    EXPECT_TRUE(sensorHeader(data[0]).endOfFrame());
}

} // namespace
} // namespace vxqir::test
