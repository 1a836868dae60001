// The emulator on real loopback sockets, spoken to with hand-built
// datagrams.

#include "ChecksumWorker.h"
#include "Fnv1a64.h"
#include "FrameDigest.h"
#include "RawUnitClient.h"
#include "Summary.h"
#include "UnitEmulator.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <netinet/udp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <thread>

namespace vxqir::sim {
namespace {

using namespace std::chrono_literals;
using testing::field;
using testing::makeSensorDatagram;
using testing::patternFrameChecksum;
using testing::patternLine;
using testing::RawUnitClient;

constexpr uint64_t UNIT_TIME = 1'700'000'000'000'000'000ull;
// Generous: the machine is shared; nothing here measures speed.
constexpr auto WAIT = 10s;

class Emulator : public ::testing::Test {
protected:
    void SetUp() override { start(defaultConfig()); }

    EmulatorConfig defaultConfig()
    {
        EmulatorConfig c;
        c.channels = 2;
        c.channel.fifoEntries = 64;
        c.channel.bufferBytes = 123456;
        c.statusPeriod = 5ms;
        c.clock = clock;
        return c;
    }

    void start(EmulatorConfig config)
    {
        client.reset();
        unit.reset();
        unit = std::make_unique<UnitEmulator>(std::move(config));
        unit->start();
        client = std::make_unique<RawUnitClient>(controlEndpoint(), dataEndpoint());
    }

    Ipv4Endpoint controlEndpoint() const { return *Ipv4Endpoint::parse("127.0.0.1", unit->controlPort()); }
    Ipv4Endpoint dataEndpoint() const { return *Ipv4Endpoint::parse("127.0.0.1", unit->dataBasePort()); }

    void setFrameSize(uint8_t channel, uint16_t width, uint16_t height)
    {
        ReplayControlMessage m = makeControlMessage(channel, Command::SET_FRAME_SIZE, 900);
        m.payload.frameSize = { width, height };
        ASSERT_TRUE(client->request(m));
    }

    bool waitFor(const std::function<bool(const ChannelSnapshot&)>& predicate, uint8_t channel = 0)
    {
        return unit->waitUntil([&](const EmulatorSnapshot& s) { return predicate(s.channels[channel]); }, WAIT);
    }

    ChannelSnapshot channel(uint8_t index) const { return unit->snapshot().channels[index]; }

    std::shared_ptr<ManualUnitClock> clock = std::make_shared<ManualUnitClock>(UNIT_TIME);
    std::unique_ptr<UnitEmulator> unit;
    std::unique_ptr<RawUnitClient> client;
};

// Control requests ---------------------------------------------------------------

class EveryCommandReply : public Emulator, public ::testing::WithParamInterface<Command> { };

TEST_P(EveryCommandReply, CarriesTheChannelTheRequestIdAndTheExpectedResponseType)
{
    const Command command = GetParam();
    const auto reply = client->request(makeControlMessage(1, command, 0xA55A));
    ASSERT_TRUE(reply);
    const uint16_t expected =
        command == Command::GET_BUFFER_SIZE ? RESPONSE_BUFFER_SIZE : static_cast<uint16_t>(command);
    EXPECT_EQ(field(reply->message.response_type), expected);
    EXPECT_EQ(field(reply->message.channel), 1);
    EXPECT_EQ(field(reply->message.response_id), 0xA55A);
    EXPECT_EQ(reply->length, STATUS_MESSAGE_SIZE);
    EXPECT_TRUE(isAcceptedStatusHeader(reinterpret_cast<const uint8_t*>(&reply->message), reply->length));
    EXPECT_EQ(reply->sender, controlEndpoint()) << "replies must come from the control address";
}

INSTANTIATE_TEST_SUITE_P(CommandTable, EveryCommandReply, ::testing::ValuesIn(ALL_COMMANDS));

struct TimeQuery {
    Command set;
    Command get;
};

class ReplayTimes : public Emulator, public ::testing::WithParamInterface<TimeQuery> { };

TEST_P(ReplayTimes, ReadBackTheValueLastSet)
{
    for (uint64_t value : { 0x0102030405060708ull, 42ull }) {
        ReplayControlMessage set = makeControlMessage(0, GetParam().set, 10);
        set.payload.ts = value;
        ASSERT_TRUE(client->request(set));
        const auto reply = client->request(makeControlMessage(0, GetParam().get, 11));
        ASSERT_TRUE(reply);
        EXPECT_EQ(field(reply->message.response_type), static_cast<uint16_t>(GetParam().get));
        EXPECT_EQ(field(reply->message.payload.timestamp), value);
    }
    // The other channel keeps its own times.
    const auto other = client->request(makeControlMessage(1, GetParam().get, 12));
    ASSERT_TRUE(other);
    EXPECT_EQ(field(other->message.payload.timestamp), 0u);
}

INSTANTIATE_TEST_SUITE_P(Offset, ReplayTimes,
                         ::testing::Values(TimeQuery{ Command::SET_OFFSET_TIMESTAMP, Command::GET_OFFSET_TIMESTAMP }));
INSTANTIATE_TEST_SUITE_P(Start, ReplayTimes,
                         ::testing::Values(TimeQuery{ Command::SET_START_TIMESTAMP, Command::GET_START_TIMESTAMP }));
INSTANTIATE_TEST_SUITE_P(Stop, ReplayTimes,
                         ::testing::Values(TimeQuery{ Command::SET_STOP_TIMESTAMP, Command::GET_STOP_TIMESTAMP }));

TEST_F(Emulator, ReadsBackTheFrameSizeLastSet)
{
    setFrameSize(0, 1920, 1080);
    const auto reply = client->request(makeControlMessage(0, Command::GET_FRAME_SIZE, 5));
    ASSERT_TRUE(reply);
    EXPECT_EQ(field(reply->message.response_type), 49);
    EXPECT_EQ(field(reply->message.payload.frameSize.width), 1920);
    EXPECT_EQ(field(reply->message.payload.frameSize.height), 1080);
}

TEST_F(Emulator, ReportsTheFifoAndBufferSizeInTheBufferSizeReply)
{
    const auto reply = client->request(makeControlMessage(0, Command::GET_BUFFER_SIZE, 5));
    ASSERT_TRUE(reply);
    EXPECT_EQ(field(reply->message.response_type), RESPONSE_BUFFER_SIZE);
    EXPECT_EQ(field(reply->message.payload.buffer.total_fifo_entries), 64u);
    EXPECT_EQ(field(reply->message.payload.buffer.total_buffer_size), 123456u);
}

TEST_F(Emulator, AnswersNotAvailableForAChannelItDoesNotServe)
{
    const auto reply = client->request(makeControlMessage(2, Command::GET_BUFFER_SIZE, 5));
    ASSERT_TRUE(reply);
    EXPECT_EQ(field(reply->message.response_type), RESPONSE_CHANNEL_NOT_AVAILABLE);
    EXPECT_EQ(field(reply->message.channel), 2);
    EXPECT_EQ(unit->snapshot().control.requestsForUnservedChannels, 1u);
}

TEST_F(Emulator, AnswersNotAvailableForAChannelMarkedSoUntilItIsAvailableAgain)
{
    unit->setChannelAvailable(1, false);
    auto reply = client->request(makeControlMessage(1, Command::GET_BUFFER_SIZE, 5));
    ASSERT_TRUE(reply);
    EXPECT_EQ(field(reply->message.response_type), RESPONSE_CHANNEL_NOT_AVAILABLE);
    unit->setChannelAvailable(1, true);
    reply = client->request(makeControlMessage(1, Command::GET_BUFFER_SIZE, 6));
    ASSERT_TRUE(reply);
    EXPECT_EQ(field(reply->message.response_type), RESPONSE_BUFFER_SIZE);
}

TEST_F(Emulator, CountsMalformedRequestsAndAnswersNoneOfThem)
{
    auto bytesOf = [](ReplayControlMessage m) {
        const auto* p = reinterpret_cast<const uint8_t*>(&m);
        return std::vector<uint8_t>(p, p + m.packet_length);
    };
    auto wrongMagic = bytesOf(makeControlMessage(0, Command::ENABLE_CHANNEL, 1));
    wrongMagic[4] = 'S';
    auto wrongVersion = bytesOf(makeControlMessage(0, Command::ENABLE_CHANNEL, 2));
    wrongVersion[5] = 4;
    auto wrongLength = bytesOf(makeControlMessage(0, Command::ENABLE_CHANNEL, 3));
    wrongLength[6] = 13;
    auto unknownCommand = bytesOf(makeControlMessage(0, Command::ENABLE_CHANNEL, 4));
    unknownCommand[8] = 99;
    for (const auto& bytes : { wrongMagic, wrongVersion, wrongLength, unknownCommand, std::vector<uint8_t>(3, 0) })
        client->sendControlBytes(bytes);

    // The first datagram that comes back answers the valid request sent last.
    client->send(makeControlMessage(0, Command::RESET_CHANNEL, 77));
    const auto first = client->receive(5s);
    ASSERT_TRUE(first);
    EXPECT_EQ(field(first->message.response_id), 77);

    const ControlSnapshot c = unit->snapshot().control;
    EXPECT_EQ(c.malformedRequests, 5u);
    EXPECT_EQ(c.malformedByReason[static_cast<size_t>(RequestFault::BadMagic)], 1u);
    EXPECT_EQ(c.malformedByReason[static_cast<size_t>(RequestFault::BadVersion)], 1u);
    EXPECT_EQ(c.malformedByReason[static_cast<size_t>(RequestFault::LengthMismatch)], 1u);
    EXPECT_EQ(c.malformedByReason[static_cast<size_t>(RequestFault::UnknownCommand)], 1u);
    EXPECT_EQ(c.malformedByReason[static_cast<size_t>(RequestFault::TooShort)], 1u);
    EXPECT_EQ(c.repliesSent, 1u);
}

TEST_F(Emulator, RepliesToTheSenderOfEachRequest)
{
    RawUnitClient other(controlEndpoint(), dataEndpoint());
    other.send(makeControlMessage(0, Command::GET_FRAME_SIZE, 500));
    client->send(makeControlMessage(0, Command::GET_FRAME_SIZE, 600));
    const auto toOther = other.receive(5s);
    const auto toClient = client->receive(5s);
    ASSERT_TRUE(toOther);
    ASSERT_TRUE(toClient);
    EXPECT_EQ(field(toOther->message.response_id), 500);
    EXPECT_EQ(field(toClient->message.response_id), 600);
}

// Periodic status -------------------------------------------------------------------

TEST_F(Emulator, SendsPeriodicStatusOnlyToTheAddressThatEnabledIt)
{
    RawUnitClient bystander(controlEndpoint(), dataEndpoint());
    ASSERT_TRUE(client->request(Command::ENABLE_CHANNEL, 1));
    ASSERT_TRUE(client->request(Command::ENABLE_STATUS_MESSAGES, 1));
    ASSERT_TRUE(bystander.request(Command::GET_FRAME_SIZE, 1));

    const auto status = client->receivePeriodic(1, 5s);
    ASSERT_TRUE(status);
    const StatusPayload& p = status->message.payload.status;
    EXPECT_EQ(field(status->message.channel), 1);
    EXPECT_EQ(status->length, STATUS_MESSAGE_SIZE);
    EXPECT_EQ(status->sender, controlEndpoint());
    EXPECT_EQ(field(p.flags), STATUS_FLAG_ENABLED);
    EXPECT_EQ(field(p.free_fifo_entries), 64u);
    EXPECT_EQ(field(p.currenttime_ns), UNIT_TIME);
    EXPECT_FALSE(bystander.receive(50ms)) << "status must go only to the enabling address";
}

TEST_F(Emulator, StopsPeriodicStatusWhenDisabled)
{
    ASSERT_TRUE(client->request(Command::ENABLE_STATUS_MESSAGES, 0));
    ASSERT_TRUE(client->receivePeriodic(0, 5s));
    ASSERT_TRUE(client->request(Command::DISABLE_STATUS_MESSAGES, 0));
    const uint64_t sent = channel(0).statusMessages;
    std::this_thread::sleep_for(50ms); // ten periods
    EXPECT_EQ(channel(0).statusMessages, sent);
}

TEST_F(Emulator, ReportsTheUnitClockAndThePtpFlagsAsConfigured)
{
    EmulatorConfig c = defaultConfig();
    c.channel.ptpSynced = true;
    c.channel.ptpActive = true;
    start(c);
    ASSERT_TRUE(client->request(Command::ENABLE_STATUS_MESSAGES, 0));
    clock->set(UNIT_TIME + 12345);
    std::optional<testing::ReceivedStatus> status;
    do {
        status = client->receivePeriodic(0, 5s);
        ASSERT_TRUE(status);
    } while (status->message.payload.status.currenttime_ns != UNIT_TIME + 12345);
    EXPECT_EQ(field(status->message.payload.status.flags), STATUS_FLAG_PTP_SYNCED | STATUS_FLAG_PTP_ACTIVE);
}

TEST_F(Emulator, StopsAndResumesStatusMessagesOnRequestOfTheTest)
{
    ASSERT_TRUE(client->request(Command::ENABLE_STATUS_MESSAGES, 0));
    unit->setStatusStopped(true);
    while (client->receive(30ms)) { }
    EXPECT_FALSE(client->receivePeriodic(0, 50ms));
    unit->setStatusStopped(false);
    EXPECT_TRUE(client->receivePeriodic(0, 5s));
}

// Sensor data -------------------------------------------------------------------------

TEST_F(Emulator, VerifiesFramesAndComputesTheChecksumOfTheLast)
{
    setFrameSize(0, 100, 10);
    ASSERT_TRUE(client->request(Command::ENABLE_CHANNEL, 0));
    uint16_t packet = 0;
    for (uint16_t f = 0; f < 3; ++f)
        client->sendPatternFrame(0, f, 10, 100, 48, packet);
    ASSERT_TRUE(waitFor([](const ChannelSnapshot& c) { return c.frames.framesComplete == 3; }));
    unit->drainChecksums();
    const ChannelSnapshot c = channel(0);
    EXPECT_EQ(c.datagrams, packet);
    EXPECT_EQ(c.bytes, 3u * 10 * 100);
    EXPECT_EQ(c.blocks, 30u);
    EXPECT_EQ(c.packetGaps, 0u);
    EXPECT_EQ(c.badDatagrams, 0u);
    EXPECT_EQ(c.frames.framesIncomplete, 0u);
    EXPECT_EQ(c.framesChecksummed, 3u);
    ASSERT_TRUE(c.lastChecksum);
    EXPECT_EQ(*c.lastChecksum, patternFrameChecksum(2, 10, 100));
    EXPECT_EQ(c.lastChecksumFrameNumber, 2);
    EXPECT_EQ(c.lastPacketNumber, static_cast<uint16_t>(packet - 1));
    EXPECT_EQ(c.fifo.pushed, 30u);
}

TEST_F(Emulator, VerifiesEveryDatagramOfSegmentedSendsAsIfSentOneByOne)
{
    // Two frames of equal lines sent with UDP segmentation offload, 16 lines
    // per call: with receive offload the kernel may hand them over joined,
    // and each must still be counted and checked on its own.
    constexpr uint16_t height = 32;
    constexpr size_t width = 96;
    setFrameSize(0, width, height);
    ASSERT_TRUE(client->request(Command::ENABLE_CHANNEL, 0));
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    ASSERT_GE(fd, 0);
    const sockaddr_in to = dataEndpoint().toSockaddr();
    uint16_t packet = 0;
    for (uint16_t frame = 0; frame < 2; ++frame) {
        std::vector<uint8_t> joined;
        for (uint16_t line = 0; line < height; ++line) {
            const uint8_t flags = SENSOR_FLAG_END_OF_LINE | (line == height - 1 ? SENSOR_FLAG_END_OF_FRAME : 0);
            const std::vector<uint8_t> payload = patternLine(frame, line, width);
            const auto d = makeSensorDatagram(frame, line, packet++, flags, payload);
            joined.insert(joined.end(), d.begin(), d.end());
            if ((line + 1) % 16 != 0)
                continue;
            alignas(cmsghdr) uint8_t control[CMSG_SPACE(sizeof(uint16_t))] = {};
            iovec iov{ joined.data(), joined.size() };
            msghdr message{};
            message.msg_name = const_cast<sockaddr_in*>(&to);
            message.msg_namelen = sizeof(to);
            message.msg_iov = &iov;
            message.msg_iovlen = 1;
            message.msg_control = control;
            message.msg_controllen = sizeof(control);
            cmsghdr* c = CMSG_FIRSTHDR(&message);
            c->cmsg_level = SOL_UDP;
            c->cmsg_type = UDP_SEGMENT;
            c->cmsg_len = CMSG_LEN(sizeof(uint16_t));
            const auto segment = static_cast<uint16_t>(d.size());
            std::memcpy(CMSG_DATA(c), &segment, sizeof(segment));
            ASSERT_EQ(::sendmsg(fd, &message, 0), static_cast<ssize_t>(joined.size()));
            joined.clear();
        }
    }
    ::close(fd);
    ASSERT_TRUE(waitFor([](const ChannelSnapshot& c) { return c.frames.framesComplete == 2; }));
    unit->drainChecksums();
    const ChannelSnapshot c = channel(0);
    EXPECT_EQ(c.datagrams, 2u * height);
    EXPECT_EQ(c.blocks, 2u * height);
    EXPECT_EQ(c.packetGaps, 0u);
    EXPECT_EQ(c.badDatagrams, 0u);
    ASSERT_TRUE(c.lastChecksum);
    EXPECT_EQ(*c.lastChecksum, patternFrameChecksum(1, height, width));
}

TEST_F(Emulator, ReportsTheLatestPacketNumberInTheStatus)
{
    setFrameSize(0, 16, 2);
    ASSERT_TRUE(client->request(Command::ENABLE_CHANNEL, 0));
    ASSERT_TRUE(client->request(Command::ENABLE_STATUS_MESSAGES, 0));
    uint16_t packet = 1000;
    client->sendPatternFrame(0, 0, 2, 16, 16, packet);
    ASSERT_TRUE(waitFor([](const ChannelSnapshot& c) { return c.datagrams == 2; }));
    std::optional<testing::ReceivedStatus> status;
    do {
        status = client->receivePeriodic(0, 5s);
        ASSERT_TRUE(status);
    } while (status->message.payload.status.rx_packet_num != 1001);
}

TEST_F(Emulator, CountsAPacketGapAndKeepsTheLossFlagUntilFlagsAreCleared)
{
    setFrameSize(0, 8, 2);
    ASSERT_TRUE(client->request(Command::ENABLE_CHANNEL, 0));
    const auto line = patternLine(0, 0, 8);
    client->sendData(0, makeSensorDatagram(0, 0, 10, SENSOR_FLAG_END_OF_LINE, line));
    client->sendData(0, makeSensorDatagram(0, 1, 13, SENSOR_FLAG_END_OF_LINE | SENSOR_FLAG_END_OF_FRAME, line));
    ASSERT_TRUE(waitFor([](const ChannelSnapshot& c) { return c.datagrams == 2; }));
    ChannelSnapshot c = channel(0);
    EXPECT_EQ(c.packetGaps, 1u);
    EXPECT_EQ(c.packetsMissing, 2u);
    EXPECT_TRUE(c.loss);
    EXPECT_EQ(c.frames.framesComplete, 0u);
    EXPECT_EQ(c.frames.incompleteByReason[static_cast<size_t>(IncompleteReason::PacketLoss)], 1u);

    ASSERT_TRUE(client->request(Command::CLEAR_STATUS_FLAGS, 0));
    EXPECT_FALSE(channel(0).loss);
}

TEST_F(Emulator, CountsBadDatagramsAndGoesOnVerifying)
{
    setFrameSize(0, 8, 1);
    auto bad = makeSensorDatagram(0, 0, 0, SENSOR_FLAG_END_OF_LINE, patternLine(0, 0, 8));
    bad[6] = 9; // version
    client->sendData(0, bad);
    client->sendData(0, std::vector<uint8_t>(5, 0xFF));
    client->sendData(
        0, makeSensorDatagram(0, 0, 1, SENSOR_FLAG_END_OF_LINE | SENSOR_FLAG_END_OF_FRAME, patternLine(0, 0, 8)));
    ASSERT_TRUE(waitFor([](const ChannelSnapshot& c) { return c.badDatagrams == 2 && c.datagrams == 1; }));
    const ChannelSnapshot c = channel(0);
    EXPECT_EQ(c.badByReason[static_cast<size_t>(DatagramFault::BadVersion)], 1u);
    EXPECT_EQ(c.badByReason[static_cast<size_t>(DatagramFault::TooShort)], 1u);
    EXPECT_EQ(c.frames.framesComplete, 1u);
}

TEST_F(Emulator, KeepsEachChannelsDataApartOnItsOwnPort)
{
    setFrameSize(0, 32, 4);
    setFrameSize(1, 64, 2);
    uint16_t packet0 = 0;
    uint16_t packet1 = 0;
    client->sendPatternFrame(0, 7, 4, 32, 1448, packet0);
    client->sendPatternFrame(1, 9, 2, 64, 1448, packet1);
    ASSERT_TRUE(unit->waitUntil(
        [](const EmulatorSnapshot& s) {
            return s.channels[0].frames.framesComplete == 1 && s.channels[1].frames.framesComplete == 1;
        },
        WAIT));
    unit->drainChecksums();
    const EmulatorSnapshot s = unit->snapshot();
    ASSERT_TRUE(s.channels[0].lastChecksum && s.channels[1].lastChecksum);
    EXPECT_EQ(*s.channels[0].lastChecksum, patternFrameChecksum(7, 4, 32));
    EXPECT_EQ(*s.channels[1].lastChecksum, patternFrameChecksum(9, 2, 64));
    EXPECT_EQ(unit->dataPort(1), static_cast<uint16_t>(unit->dataBasePort() + 1));
}

TEST_F(Emulator, StartsAFreshPacketSequenceWhenTheChannelIsEnabledAgain)
{
    setFrameSize(0, 8, 1);
    ASSERT_TRUE(client->request(Command::ENABLE_CHANNEL, 0));
    const uint8_t whole = SENSOR_FLAG_END_OF_LINE | SENSOR_FLAG_END_OF_FRAME;
    client->sendData(0, makeSensorDatagram(0, 0, 500, whole, patternLine(0, 0, 8)));
    ASSERT_TRUE(waitFor([](const ChannelSnapshot& c) { return c.datagrams == 1; }));
    ASSERT_TRUE(client->request(Command::DISABLE_CHANNEL, 0));
    ASSERT_TRUE(client->request(Command::RESET_CHANNEL, 0));
    EXPECT_EQ(channel(0).lastPacketNumber, 500) << "a reset keeps the client's numbering";
    ASSERT_TRUE(client->request(Command::ENABLE_CHANNEL, 0));
    EXPECT_EQ(channel(0).lastPacketNumber, 0) << "the new run has sent nothing yet";
    client->sendData(0, makeSensorDatagram(0, 0, 0, whole, patternLine(0, 0, 8)));
    ASSERT_TRUE(waitFor([](const ChannelSnapshot& c) { return c.datagrams == 2; }));
    EXPECT_EQ(channel(0).packetGaps, 0u);
    EXPECT_EQ(channel(0).packetsLate, 0u);
    EXPECT_EQ(channel(0).frames.framesComplete, 2u);
}

TEST_F(Emulator, TakesEveryFrameDigestAndTheChecksumOnlyWhereItIsRead)
{
    // The unit is restarted with an observer of digests; none of checksums.
    std::mutex mutex;
    std::vector<uint64_t> digests;
    std::vector<uint64_t> expected;
    client.reset();
    unit.reset();
    unit = std::make_unique<UnitEmulator>(defaultConfig());
    unit->addDigestObserver([&](const CompletedFrame& frame, uint64_t digest) {
        std::lock_guard lock(mutex);
        digests.push_back(digest);
        expected.push_back(FrameDigest::of(frame.bytes));
    });
    unit->start();
    client = std::make_unique<RawUnitClient>(controlEndpoint(), dataEndpoint());
    setFrameSize(0, 100, 10);
    ASSERT_TRUE(client->request(Command::ENABLE_CHANNEL, 0));
    uint16_t packet = 0;
    for (uint16_t f = 0; f < 3; ++f)
        client->sendPatternFrame(0, f, 10, 100, 48, packet);
    ASSERT_TRUE(waitFor([](const ChannelSnapshot& c) { return c.frames.framesComplete == 3; }));
    unit->drainChecksums();

    const ChannelSnapshot counted = unit->counters().channels[0];
    EXPECT_EQ(counted.framesChecksummed, 3u);
    EXPECT_FALSE(counted.lastChecksum);
    const ChannelSnapshot c = channel(0);
    ASSERT_TRUE(c.lastChecksum);
    EXPECT_EQ(*c.lastChecksum, patternFrameChecksum(2, 10, 100));
    EXPECT_EQ(c.lastChecksumFrameNumber, 2);
    std::lock_guard lock(mutex);
    ASSERT_EQ(digests.size(), 3u);
    EXPECT_EQ(digests, expected);
    EXPECT_EQ(c.lastDigest, digests.back());
    EXPECT_NE(digests[0], digests[1]);
}

TEST(EmulatorChecksum, ReadWhileFramesArriveIsAlwaysThatOfTheFrameItNames)
{
    // A reader takes snapshots while frames complete: each checksum it sees
    // must be the one of the frame number beside it, however the hashing on
    // the reader's thread interleaves with newer frames.
    EmulatorConfig config;
    config.checksumEveryFrame = true;
    UnitEmulator unit(config);
    unit.start();
    RawUnitClient client(*Ipv4Endpoint::parse("127.0.0.1", unit.controlPort()),
                         *Ipv4Endpoint::parse("127.0.0.1", unit.dataBasePort()));
    constexpr uint16_t FRAMES = 200;
    constexpr uint16_t LINES = 8;
    constexpr size_t WIDTH = 4096;
    ReplayControlMessage frameSize = makeControlMessage(0, Command::SET_FRAME_SIZE, 1);
    frameSize.payload.frameSize = { static_cast<uint16_t>(WIDTH), LINES };
    ASSERT_TRUE(client.request(frameSize));
    ASSERT_TRUE(client.request(Command::ENABLE_CHANNEL, 0));

    std::atomic<bool> sent{ false };
    uint64_t reads = 0;
    uint64_t wrong = 0;
    std::thread reader([&] {
        // Bounded by the sender: it ends once every frame was sent and seen.
        for (;;) {
            const bool last = sent.load(std::memory_order_acquire);
            const ChannelSnapshot c = unit.snapshot().channels[0];
            if (c.lastChecksum) {
                ++reads;
                if (*c.lastChecksum != patternFrameChecksum(c.lastChecksumFrameNumber, LINES, WIDTH))
                    ++wrong;
            }
            if (last)
                return;
            std::this_thread::yield();
        }
    });
    uint16_t packet = 0;
    for (uint16_t f = 0; f < FRAMES; ++f)
        client.sendPatternFrame(0, f, LINES, WIDTH, 1448, packet);
    const bool arrived =
        unit.waitUntil([](const EmulatorSnapshot& s) { return s.channels[0].frames.framesComplete == FRAMES; }, WAIT);
    unit.drainChecksums();
    sent.store(true, std::memory_order_release);
    reader.join();
    ASSERT_TRUE(arrived);
    EXPECT_GT(reads, 0u);
    EXPECT_EQ(wrong, 0u) << "of " << reads << " checksums read";
    const ChannelSnapshot c = unit.snapshot().channels[0];
    EXPECT_EQ(c.framesChecksummed, FRAMES);
    EXPECT_EQ(c.lastChecksumFrameNumber, FRAMES - 1);
    EXPECT_EQ(c.lastChecksum, patternFrameChecksum(FRAMES - 1, LINES, WIDTH));
}

TEST_F(Emulator, CountsTheOpenFrameIncompleteWhenStopped)
{
    setFrameSize(0, 8, 4);
    client->sendData(0, makeSensorDatagram(0, 0, 0, SENSOR_FLAG_END_OF_LINE, patternLine(0, 0, 8)));
    ASSERT_TRUE(waitFor([](const ChannelSnapshot& c) { return c.datagrams == 1; }));
    unit->stop();
    EXPECT_EQ(channel(0).frames.framesIncomplete, 1u);
}

TEST(EmulatorOrder, AppliesAControlRequestOnlyAfterTheDataThatArrivedBeforeIt)
{
    // A slow frame observer holds the receive thread back, so the last
    // frame still waits at the data socket when the DISABLE_CHANNEL sent
    // right behind it reaches the control thread.
    EmulatorConfig config;
    config.checksumEveryFrame = true;
    config.checksumBacklogFrames = 1;
    UnitEmulator unit(config);
    unit.addFrameObserver([](const CompletedFrame&, uint64_t) { std::this_thread::sleep_for(50ms); });
    unit.start();
    RawUnitClient client(*Ipv4Endpoint::parse("127.0.0.1", unit.controlPort()),
                         *Ipv4Endpoint::parse("127.0.0.1", unit.dataBasePort()));
    constexpr uint16_t FRAMES = 5;
    constexpr uint16_t LINES = 100;
    ReplayControlMessage frameSize = makeControlMessage(0, Command::SET_FRAME_SIZE, 1);
    frameSize.payload.frameSize = { 64, LINES };
    ASSERT_TRUE(client.request(frameSize));
    ASSERT_TRUE(client.request(Command::ENABLE_CHANNEL, 0));
    uint16_t packet = 0;
    for (uint16_t f = 0; f < FRAMES; ++f)
        client.sendPatternFrame(0, f, LINES, 64, 1448, packet);
    ASSERT_TRUE(client.request(Command::DISABLE_CHANNEL, 0, 10s));

    const ChannelSnapshot c = unit.snapshot().channels[0]; // no waiting: the reply came after them
    EXPECT_EQ(c.datagrams, static_cast<uint64_t>(FRAMES) * LINES);
    EXPECT_EQ(c.datagramsWhileDisabled, 0u);
    EXPECT_EQ(c.frames.framesComplete, FRAMES);
    EXPECT_EQ(c.fifo.framesPlayed, FRAMES);
    EXPECT_EQ(c.fifo.skipped, 0u);
    EXPECT_TRUE(channelVerdict(c).delivered);
}

TEST(EmulatorStop, VerifiesEverythingSentBeforeItWasStopped)
{
    // A slow frame observer holds the receive thread back (every frame is
    // checksummed, one at a time), so datagrams pile up at the data socket.
    EmulatorConfig config;
    config.checksumEveryFrame = true;
    config.checksumBacklogFrames = 1;
    UnitEmulator unit(config);
    unit.addFrameObserver([](const CompletedFrame&, uint64_t) { std::this_thread::sleep_for(1ms); });
    unit.start();
    RawUnitClient client(*Ipv4Endpoint::parse("127.0.0.1", unit.controlPort()),
                         *Ipv4Endpoint::parse("127.0.0.1", unit.dataBasePort()));
    ReplayControlMessage frameSize = makeControlMessage(0, Command::SET_FRAME_SIZE, 1);
    frameSize.payload.frameSize = { 32, 1 };
    ASSERT_TRUE(client.request(frameSize));
    constexpr uint16_t FRAMES = 300;
    uint16_t packet = 0;
    for (uint16_t f = 0; f < FRAMES; ++f)
        client.sendPatternFrame(0, f, 1, 32, 32, packet);
    // Loopback delivers at send time: everything is queued at the data
    // socket now, most of it not yet read.
    unit.stop();
    const ChannelSnapshot c = unit.snapshot().channels[0];
    EXPECT_EQ(c.datagrams, FRAMES);
    EXPECT_EQ(c.frames.framesComplete, FRAMES);
    EXPECT_EQ(c.framesChecksummed, FRAMES);
    ASSERT_TRUE(c.lastChecksum);
    EXPECT_EQ(*c.lastChecksum, patternFrameChecksum(FRAMES - 1, 1, 32));
}

TEST_F(Emulator, KeepsVerifyingAFrameWhoseEndArrivesAfterTheChannelWasDisabled)
{
    setFrameSize(0, 8, 2);
    ASSERT_TRUE(client->request(Command::ENABLE_CHANNEL, 0));
    client->sendData(0, makeSensorDatagram(4, 0, 0, SENSOR_FLAG_END_OF_LINE, patternLine(4, 0, 8)));
    ASSERT_TRUE(waitFor([](const ChannelSnapshot& c) { return c.datagrams == 1; }));
    // The control request overtakes the frame's last datagram, as it can
    // when a client unregisters right after sending.
    ASSERT_TRUE(client->request(Command::DISABLE_CHANNEL, 0));
    client->sendData(
        0, makeSensorDatagram(4, 1, 1, SENSOR_FLAG_END_OF_LINE | SENSOR_FLAG_END_OF_FRAME, patternLine(4, 1, 8)));
    ASSERT_TRUE(waitFor([](const ChannelSnapshot& c) { return c.frames.framesComplete == 1; }));
    EXPECT_EQ(channel(0).frames.framesIncomplete, 0u);
    EXPECT_FALSE(channel(0).enabled);
}

TEST_F(Emulator, AFrameLeftInAFrozenFifoWhenTheChannelIsDisabledWasNotPlayed)
{
    setFrameSize(0, 8, 2);
    ASSERT_TRUE(client->request(Command::ENABLE_CHANNEL, 0));
    unit->freezeFifo(0);
    uint16_t packet = 0;
    client->sendPatternFrame(0, 0, 2, 8, 8, packet);
    ASSERT_TRUE(waitFor([](const ChannelSnapshot& c) { return c.frames.framesComplete == 1; }));
    EXPECT_EQ(channel(0).framesAwaitingPlayout, 1u);
    EXPECT_FALSE(channelVerdict(channel(0)).delivered);

    ASSERT_TRUE(client->request(Command::DISABLE_CHANNEL, 0));
    const ChannelSnapshot c = channel(0);
    EXPECT_EQ(c.fifo.played, 0u);
    EXPECT_EQ(c.fifo.skipped, 2u);
    EXPECT_EQ(c.fifo.framesNotPlayed, 1u);
    EXPECT_EQ(c.framesAwaitingPlayout, 0u);
    const ChannelVerdict v = channelVerdict(c);
    EXPECT_FALSE(v.delivered);
    EXPECT_THAT(verificationLine(c), ::testing::HasSubstr("frames_complete=1 "));
    EXPECT_THAT(verificationLine(c),
                ::testing::HasSubstr("fifo_played=0 fifo_skipped=2 frames_played=0 verdict=not_delivered"));
}

// Replay FIFO ---------------------------------------------------------------------------

TEST_F(Emulator, OverflowsAFrozenFifoSetsLossAndFreesItWhenReleased)
{
    EmulatorConfig config = defaultConfig();
    config.channel.fifoEntries = 4;
    start(config);
    setFrameSize(0, 8, 6);
    ASSERT_TRUE(client->request(Command::ENABLE_CHANNEL, 0));
    unit->freezeFifo(0);
    uint16_t packet = 0;
    client->sendPatternFrame(0, 0, 6, 8, 8, packet);
    ASSERT_TRUE(waitFor([](const ChannelSnapshot& c) { return c.blocks == 6; }));
    ChannelSnapshot c = channel(0);
    EXPECT_EQ(c.fifoUsed, 4u);
    EXPECT_EQ(c.fifo.overflows, 2u);
    EXPECT_TRUE(c.loss);
    EXPECT_TRUE(c.fifoFrozen);
    EXPECT_EQ(c.frames.framesComplete, 0u) << "two lines of the frame never reached the FIFO";
    EXPECT_EQ(c.frames.framesIncomplete, 1u);
    EXPECT_EQ(c.frames.incompleteByReason[static_cast<size_t>(IncompleteReason::FifoOverflow)], 1u);

    unit->releaseFifo(0);
    c = channel(0);
    EXPECT_EQ(c.fifoUsed, 0u);
    EXPECT_FALSE(c.fifoFrozen);
}

TEST_F(Emulator, QueuesNoBlocksWhileTheChannelIsDisabled)
{
    setFrameSize(0, 8, 2);
    uint16_t packet = 0;
    client->sendPatternFrame(0, 0, 2, 8, 8, packet);
    ASSERT_TRUE(waitFor([](const ChannelSnapshot& c) { return c.blocks == 2; }));
    EXPECT_EQ(channel(0).fifo.pushed, 0u);
    EXPECT_EQ(channel(0).datagramsWhileDisabled, 2u);
}

TEST_F(Emulator, PlaysOutByTimestampsAgainstTheUnitClock)
{
    EmulatorConfig config = defaultConfig();
    config.channel.playout.kind = PlayoutKind::Timestamps;
    start(config);
    setFrameSize(0, 8, 3);
    ASSERT_TRUE(client->request(Command::ENABLE_CHANNEL, 0));
    ReplayControlMessage startAt = makeControlMessage(0, Command::SET_START_TIMESTAMP, 20);
    startAt.payload.ts = UNIT_TIME + 1'000'000;
    ASSERT_TRUE(client->request(startAt));
    ReplayControlMessage offset = makeControlMessage(0, Command::SET_OFFSET_TIMESTAMP, 21);
    offset.payload.ts = 5'000'000'000;
    ASSERT_TRUE(client->request(offset));
    for (uint16_t l = 0; l < 3; ++l) {
        const uint8_t flags = SENSOR_FLAG_END_OF_LINE | (l == 2 ? SENSOR_FLAG_END_OF_FRAME : 0);
        // Lines 1 ms apart in recording time, from the offset on.
        client->sendData(0, makeSensorDatagram(0, l, l, flags, patternLine(0, l, 8), 5'000'000'000 + l * 1'000'000ull));
    }
    ASSERT_TRUE(waitFor([](const ChannelSnapshot& c) { return c.blocks == 3; }));
    EXPECT_EQ(channel(0).fifoUsed, 3u);
    clock->set(UNIT_TIME + 2'000'000); // lines 0 and 1 are due
    EXPECT_EQ(channel(0).fifoUsed, 1u);
    clock->set(UNIT_TIME + 3'000'000);
    EXPECT_EQ(channel(0).fifoUsed, 0u);
    EXPECT_EQ(channel(0).fifo.played, 3u);
}

// Reply faults -------------------------------------------------------------------------

TEST_F(Emulator, DropsEveryReplyWhenTheDropShareIsOneAndAnswersAgainAfterwards)
{
    unit->setReplyDropShare(1.0);
    EXPECT_FALSE(client->request(Command::GET_FRAME_SIZE, 0, 200ms));
    EXPECT_EQ(unit->snapshot().control.repliesDropped, 1u);
    unit->setReplyDropShare(0.0);
    EXPECT_TRUE(client->request(Command::GET_FRAME_SIZE, 0));
}

TEST_F(Emulator, DropsAboutTheConfiguredShareOfReplies)
{
    unit->setReplyDropShare(0.5);
    for (int i = 0; i < 200; ++i)
        client->send(makeControlMessage(0, Command::GET_FRAME_SIZE, static_cast<uint16_t>(i)));
    ASSERT_TRUE(unit->waitUntil([](const EmulatorSnapshot& s) { return s.control.requests == 200; }, WAIT));
    const ControlSnapshot c = unit->snapshot().control;
    EXPECT_EQ(c.repliesDropped + c.repliesSent, 200u);
    EXPECT_GT(c.repliesDropped, 50u);
    EXPECT_LT(c.repliesDropped, 150u);
}

TEST_F(Emulator, DelaysRepliesByAtLeastTheConfiguredTime)
{
    unit->setReplyDelay(150ms);
    const auto sent = std::chrono::steady_clock::now();
    const auto reply = client->request(Command::GET_FRAME_SIZE, 0);
    ASSERT_TRUE(reply);
    EXPECT_GE(std::chrono::steady_clock::now() - sent, 150ms);
    EXPECT_EQ(unit->snapshot().control.repliesDelayed, 1u);
}

TEST_F(Emulator, AnswersWithTheNeighbouringResponseTypeWhenToldTo)
{
    unit->setWrongResponseType(true);
    const auto reply = client->request(Command::GET_START_TIMESTAMP, 0);
    ASSERT_TRUE(reply);
    EXPECT_EQ(field(reply->message.response_type), 34);
    EXPECT_EQ(unit->snapshot().control.repliesWrongType, 1u);
}

// Setup ------------------------------------------------------------------------------

TEST(EmulatorSetup, RefusesAControlPortInUseNamingTheAddress)
{
    UdpSocket taken = UdpSocket::bound(*Ipv4Endpoint::parse("127.0.0.1", 0));
    EmulatorConfig c;
    c.controlPort = taken.localPort();
    UnitEmulator unit(c);
    try {
        unit.start();
        FAIL() << "start() must fail";
    } catch (const SocketSetupError& e) {
        EXPECT_NE(std::string(e.what()).find("127.0.0.1:" + std::to_string(c.controlPort)), std::string::npos)
            << e.what();
        EXPECT_EQ(e.error(), EADDRINUSE);
    }
}

TEST(EmulatorSetup, RefusesADataPortRangeThatWrapsToPortZero)
{
    EmulatorConfig c;
    c.channels = 2;
    c.dataBasePort = 65535;
    UnitEmulator unit(c);
    EXPECT_THROW(unit.start(), SocketSetupError);
}

TEST(EmulatorSetup, PicksAFreeDataPortRangeWhenNoneIsGiven)
{
    EmulatorConfig c;
    c.channels = 8;
    UnitEmulator a(c);
    UnitEmulator b(c);
    a.start();
    b.start();
    EXPECT_NE(a.dataBasePort(), 0);
    EXPECT_NE(a.controlPort(), 0);
    EXPECT_TRUE(a.dataBasePort() + 8 <= b.dataBasePort() || b.dataBasePort() + 8 <= a.dataBasePort());
}

struct BadSetting {
    const char* name;
    void (*apply)(EmulatorConfig&);
};

class BadSettings : public ::testing::TestWithParam<BadSetting> { };

TEST_P(BadSettings, AreRefusedBeforeAnythingIsBound)
{
    EmulatorConfig c;
    GetParam().apply(c);
    EXPECT_THROW(UnitEmulator{ c }, std::invalid_argument);
}

INSTANTIATE_TEST_SUITE_P(
    Table, BadSettings,
    ::testing::Values(
        BadSetting{ "NoChannels", [](EmulatorConfig& c) { c.channels = 0; } },
        BadSetting{ "MoreChannelsThanTheChannelByteNames", [](EmulatorConfig& c) { c.channels = 257; } },
        BadSetting{ "ControlAddressNotIpv4", [](EmulatorConfig& c) { c.controlIp = "localhost"; } },
        BadSetting{ "DataAddressNotIpv4", [](EmulatorConfig& c) { c.dataIp = "127.0.0.256"; } },
        BadSetting{ "NoFifoEntries", [](EmulatorConfig& c) { c.channel.fifoEntries = 0; } },
        BadSetting{ "ZeroStatusPeriod", [](EmulatorConfig& c) { c.statusPeriod = 0ms; } },
        BadSetting{ "LineRateWithoutRate", [](EmulatorConfig& c) { c.channel.playout.kind = PlayoutKind::LineRate; } },
        BadSetting{ "DropShareAboveOne", [](EmulatorConfig& c) { c.replyFaults.dropShare = 1.5; } },
        BadSetting{ "UnavailableChannelNotServed", [](EmulatorConfig& c) { c.unavailableChannels = { 1 }; } }),
    [](const auto& testCase) { return std::string(testCase.param.name); });

// Concurrency -------------------------------------------------------------------------

TEST_F(Emulator, TakesFaultsAndSnapshotsFromOtherThreadsWhileServing)
{
    setFrameSize(0, 64, 8);
    setFrameSize(1, 64, 8);
    ASSERT_TRUE(client->request(Command::ENABLE_CHANNEL, 0));
    ASSERT_TRUE(client->request(Command::ENABLE_STATUS_MESSAGES, 0));
    std::atomic<bool> done{ false };
    std::thread meddler([&] {
        for (int i = 0; !done.load(); ++i) {
            unit->setStatusStopped(i % 2 == 0);
            unit->setReplyDelay(std::chrono::milliseconds(i % 3));
            if (i % 2 == 0)
                unit->freezeAllFifos();
            else
                unit->releaseAllFifos();
            unit->setChannelAvailable(1, i % 4 != 0);
            (void)unit->snapshot();
            std::this_thread::yield();
        }
    });
    uint16_t packet0 = 0;
    uint16_t packet1 = 0;
    for (uint16_t f = 0; f < 20; ++f) {
        client->sendPatternFrame(0, f, 8, 64, 64, packet0);
        client->sendPatternFrame(1, f, 8, 64, 64, packet1);
        client->send(makeControlMessage(1, Command::GET_FRAME_SIZE, f));
    }
    const bool arrived = unit->waitUntil(
        [](const EmulatorSnapshot& s) {
            // Channel 0 queues into a FIFO frozen half of the time: a frame
            // whose line overflowed it is incomplete, but every frame counts.
            const auto ended = [](const ChannelSnapshot& c) {
                return c.frames.framesComplete + c.frames.framesIncomplete;
            };
            return ended(s.channels[0]) == 20 && s.channels[1].frames.framesComplete == 20;
        },
        WAIT);
    done = true;
    meddler.join();
    EXPECT_TRUE(arrived);
    unit->releaseAllFifos();
    unit->setStatusStopped(false);
    unit->setReplyDelay(0ms);
    unit->setChannelAvailable(1, true);
    EXPECT_TRUE(client->request(Command::GET_FRAME_SIZE, 1));
}

// The checksum thread ------------------------------------------------------------

CompletedFrame frameOf(uint8_t channel, uint16_t number, size_t bytes)
{
    CompletedFrame f;
    f.channel = channel;
    f.frameNumber = number;
    f.bytes.assign(bytes, static_cast<uint8_t>(number));
    return f;
}

// Every frame's buffer comes back for the receive path once the worker is
// done with it: replaced as a channel's latest, or passed over in a full
// backlog. The latest frame of a channel stays whole for its checksum.
TEST(ChecksumWorker, GivesTheBuffersOfFramesItIsDoneWithBackForTheReceivePath)
{
    ChecksumWorker worker(8, true);
    worker.start();
    std::vector<CompletedFrame> frames;
    for (uint16_t n = 1; n <= 3; ++n)
        frames.push_back(frameOf(0, n, 4096));
    worker.submit(frames);
    worker.drain();
    EXPECT_EQ(worker.frameBuffers()->kept(), 2u) << "frames 1 and 2, replaced by frame 3";
    const ChecksumResult r = worker.result(0);
    EXPECT_EQ(r.framesChecksummed, 3u);
    EXPECT_EQ(r.lastFrameNumber, 3);
    Fnv1a64 expected;
    expected.update(std::vector<uint8_t>(4096, 3));
    EXPECT_EQ(r.lastChecksum, expected.value()) << "the latest frame kept its bytes";

    ChecksumWorker idle(1, false); // not started: a second frame passes the first over
    frames.push_back(frameOf(1, 1, 64));
    frames.push_back(frameOf(1, 2, 64));
    idle.submit(frames);
    EXPECT_EQ(idle.counts(1).framesNotChecksummed, 1u);
    EXPECT_EQ(idle.frameBuffers()->kept(), 1u);
}

} // namespace
} // namespace vxqir::sim
