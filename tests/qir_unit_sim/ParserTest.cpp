// Validation of control requests and sensor datagrams.

#include "ControlRequest.h"
#include "RawUnitClient.h"
#include "SensorDatagram.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace vxqir::sim {
namespace {

using testing::field;
using testing::makeSensorDatagram;

std::vector<uint8_t> bytesOf(const ReplayControlMessage& m)
{
    const auto* p = reinterpret_cast<const uint8_t*>(&m);
    return { p, p + m.packet_length };
}

class EveryCommand : public ::testing::TestWithParam<Command> { };

TEST_P(EveryCommand, IsAcceptedWithTheLengthOfItsPayload)
{
    ReplayControlMessage m = makeControlMessage(7, GetParam(), 0xBEEF);
    m.payload.ts = 0x1122334455667788ull;
    const auto bytes = bytesOf(m);
    const ParsedRequest parsed = parseControlRequest(bytes, bytes.size());
    ASSERT_EQ(parsed.fault, RequestFault::None);
    EXPECT_EQ(parsed.request.command(), GetParam());
    EXPECT_EQ(parsed.request.channel(), 7);
    EXPECT_EQ(parsed.request.requestId(), 0xBEEF);
    // Only the bytes the command carries are taken; the rest stays zero.
    const size_t payload = commandPayloadLength(GetParam());
    uint8_t expected[8] = {};
    std::memcpy(expected, &m.payload, payload);
    EXPECT_EQ(std::memcmp(&parsed.request.message.payload, expected, 8), 0);
}

INSTANTIATE_TEST_SUITE_P(CommandTable, EveryCommand, ::testing::ValuesIn(ALL_COMMANDS));

TEST(ControlRequestParser, ReadsTheFrameSizeOfTheDocumentedExampleRequest)
{
    // SET_FRAME_SIZE 1920 x 1080 on channel 2, request id 0x0105.
    const std::vector<uint8_t> bytes{ 'Q',  'I',  'R',  '-',  'C',  0x03, 0x10, 0x02,
                                      0x30, 0x00, 0x05, 0x01, 0x80, 0x07, 0x38, 0x04 };
    const ParsedRequest parsed = parseControlRequest(bytes, bytes.size());
    ASSERT_EQ(parsed.fault, RequestFault::None);
    EXPECT_EQ(parsed.request.command(), Command::SET_FRAME_SIZE);
    EXPECT_EQ(field(parsed.request.message.payload.frameSize.width), 1920);
    EXPECT_EQ(field(parsed.request.message.payload.frameSize.height), 1080);
    EXPECT_EQ(parsed.request.requestId(), 0x0105);
}

TEST(ControlRequestBuilder, BuildsTheBytesOfTheDocumentedExampleRequest)
{
    ReplayControlMessage m = makeControlMessage(2, Command::SET_FRAME_SIZE, 0x0105);
    m.payload.frameSize = { 1920, 1080 };
    const std::vector<uint8_t> expected{ 'Q',  'I',  'R',  '-',  'C',  0x03, 0x10, 0x02,
                                         0x30, 0x00, 0x05, 0x01, 0x80, 0x07, 0x38, 0x04 };
    EXPECT_EQ(bytesOf(m), expected);
}

struct MalformedRequest {
    const char* name;
    std::vector<uint8_t> bytes;
    size_t receivedLength; // 0: bytes.size()
    RequestFault fault;
};

std::vector<uint8_t> validGet()
{
    return bytesOf(makeControlMessage(0, Command::GET_START_TIMESTAMP, 1));
}

std::vector<uint8_t> with(std::vector<uint8_t> b, size_t at, uint8_t value)
{
    b.at(at) = value;
    return b;
}

std::vector<uint8_t> firstBytes(std::vector<uint8_t> b, size_t n)
{
    b.resize(n);
    return b;
}

std::vector<MalformedRequest> malformedRequests()
{
    auto longDatagram = validGet();
    longDatagram.resize(300, 0);
    auto setOffsetWithoutPayload = bytesOf(makeControlMessage(0, Command::SET_OFFSET_TIMESTAMP, 1));
    setOffsetWithoutPayload.resize(12);
    setOffsetWithoutPayload[6] = 12;
    auto getWithPayload = validGet();
    getWithPayload.resize(16, 0);
    getWithPayload[6] = 16;
    return {
        { "Empty", {}, 0, RequestFault::TooShort },
        { "ElevenBytes", firstBytes(validGet(), 11), 0, RequestFault::TooShort },
        { "StatusMagic", with(validGet(), 4, 'S'), 0, RequestFault::BadMagic },
        { "LowerCaseMagic", with(validGet(), 0, 'q'), 0, RequestFault::BadMagic },
        { "VersionTwo", with(validGet(), 5, 2), 0, RequestFault::BadVersion },
        { "LengthByteTooSmall", with(validGet(), 6, 11), 0, RequestFault::LengthMismatch },
        { "LengthByteTooLarge", with(validGet(), 6, 20), 0, RequestFault::LengthMismatch },
        { "LongerThanItsLengthByteCanSay", longDatagram, 0, RequestFault::LengthMismatch },
        { "CutByTheReceiveBuffer", validGet(), 600, RequestFault::LengthMismatch },
        { "UnknownCommand4", with(validGet(), 8, 4), 0, RequestFault::UnknownCommand },
        { "UnknownCommandHighByte", with(validGet(), 9, 1), 0, RequestFault::UnknownCommand },
        { "SetTimeWithoutItsTime", setOffsetWithoutPayload, 0, RequestFault::PayloadMismatch },
        { "GetWithAPayload", getWithPayload, 0, RequestFault::PayloadMismatch },
    };
}

class MalformedRequests : public ::testing::TestWithParam<MalformedRequest> { };

TEST_P(MalformedRequests, AreRefusedWithTheirReason)
{
    const MalformedRequest& c = GetParam();
    const size_t length = c.receivedLength != 0 ? c.receivedLength : c.bytes.size();
    EXPECT_EQ(parseControlRequest(c.bytes, length).fault, c.fault) << "expected " << requestFaultName(c.fault);
}

INSTANTIATE_TEST_SUITE_P(Table, MalformedRequests, ::testing::ValuesIn(malformedRequests()),
                         [](const auto& testCase) { return std::string(testCase.param.name); });

// Sensor datagrams ------------------------------------------------------------

TEST(SensorDatagramParser, GivesTheHeaderAndAViewOfThePayload)
{
    const std::vector<uint8_t> payload{ 1, 2, 3, 4, 5 };
    const auto bytes =
        makeSensorDatagram(9, 4, 65535, SENSOR_FLAG_END_OF_LINE | SENSOR_FLAG_END_OF_FRAME, payload, 123456789);
    const ParsedDatagram parsed = parseSensorDatagram(bytes, bytes.size());
    ASSERT_EQ(parsed.fault, DatagramFault::None);
    const auto& h = parsed.datagram.header;
    EXPECT_EQ(field(h.frameNumber), 9);
    EXPECT_EQ(field(h.lineNumber), 4);
    EXPECT_EQ(field(h.packetNumber), 65535);
    EXPECT_TRUE(h.endOfLine());
    EXPECT_TRUE(h.endOfFrame());
    EXPECT_EQ(field(h.timestamp), 123456789u);
    EXPECT_EQ(std::vector<uint8_t>(parsed.datagram.payload.begin(), parsed.datagram.payload.end()), payload);
    EXPECT_EQ(parsed.datagram.payload.data(), bytes.data() + SENSOR_HEADER_SIZE);
}

TEST(SensorDatagramParser, AcceptsAHeaderWithoutPayload)
{
    const auto bytes = makeSensorDatagram(0, 0, 0, SENSOR_FLAG_END_OF_LINE, {});
    const ParsedDatagram parsed = parseSensorDatagram(bytes, bytes.size());
    EXPECT_EQ(parsed.fault, DatagramFault::None);
    EXPECT_TRUE(parsed.datagram.payload.empty());
}

struct BadDatagram {
    const char* name;
    std::vector<uint8_t> bytes;
    size_t receivedLength; // 0: bytes.size()
    DatagramFault fault;
};

std::vector<uint8_t> validDatagram()
{
    const std::vector<uint8_t> payload(16, 0xAB);
    return makeSensorDatagram(1, 2, 3, SENSOR_FLAG_END_OF_LINE, payload);
}

std::vector<BadDatagram> badDatagrams()
{
    auto sizeTooLarge = validDatagram();
    sizeTooLarge[4] = 17;
    auto sizeTooSmall = validDatagram();
    sizeTooSmall[4] = 15;
    auto extraByte = validDatagram();
    extraByte.push_back(0);
    return {
        { "Empty", {}, 0, DatagramFault::TooShort },
        { "TwentyThreeBytes", std::vector<uint8_t>(23, 0), 0, DatagramFault::TooShort },
        { "CutByTheReceiveBuffer", validDatagram(), 70000, DatagramFault::Truncated },
        { "VersionTwo", with(validDatagram(), 6, 2), 0, DatagramFault::BadVersion },
        { "ReservedFlagBit", with(validDatagram(), 7, SENSOR_FLAG_END_OF_LINE | 0x01), 0, DatagramFault::ReservedBits },
        { "ReservedFlagBit5", with(validDatagram(), 7, 0x20), 0, DatagramFault::ReservedBits },
        { "ReservedByte", with(validDatagram(), 13, 1), 0, DatagramFault::ReservedBits },
        { "PayloadSizeTooLarge", sizeTooLarge, 0, DatagramFault::SizeMismatch },
        { "PayloadSizeTooSmall", sizeTooSmall, 0, DatagramFault::SizeMismatch },
        { "TrailingByte", extraByte, 0, DatagramFault::SizeMismatch },
    };
}

class BadDatagrams : public ::testing::TestWithParam<BadDatagram> { };

TEST_P(BadDatagrams, AreRefusedWithTheirReason)
{
    const BadDatagram& c = GetParam();
    const size_t length = c.receivedLength != 0 ? c.receivedLength : c.bytes.size();
    EXPECT_EQ(parseSensorDatagram(c.bytes, length).fault, c.fault) << "expected " << datagramFaultName(c.fault);
}

INSTANTIATE_TEST_SUITE_P(Table, BadDatagrams, ::testing::ValuesIn(badDatagrams()),
                         [](const auto& testCase) { return std::string(testCase.param.name); });

} // namespace
} // namespace vxqir::sim
