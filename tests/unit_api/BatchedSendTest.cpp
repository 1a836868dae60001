// A run of blocks sent in batches puts the same datagrams on the wire as one
// block per call, under the same flow control, with every sending method.
#include "ApiFixture.h"
#include "SensorDatagramSender.h"

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <string>

namespace vxqir::test {
namespace {

using Mode = SensorDatagramSender::Mode;

constexpr uint64_t kTimestamp = 0x0102030405060708ull;
constexpr uint8_t kStream = 6;

// How a run of blocks is handed to the channel.
enum class Path { OneBlockPerCall, Segmented, Multiple, Single };

const char* nameOf(Path path)
{
    switch (path) {
    case Path::OneBlockPerCall:
        return "OneBlockPerCall";
    case Path::Segmented:
        return "Segmented";
    case Path::Multiple:
        return "Multiple";
    case Path::Single:
        return "Single";
    }
    return "Unknown";
}

// A run of blocks of one frame: the size of each block, its line number
// being its index.
struct FrameCase {
    const char* name;
    uint16_t maxPayload;
    uint16_t height; // declared frame height
    std::vector<uint16_t> sizes;
};

std::vector<uint16_t> repeated(uint16_t size, size_t count)
{
    return std::vector<uint16_t>(count, size);
}

Bytes payloadOf(size_t line, size_t size)
{
    Bytes bytes(size);
    bytes.reserve(1); // a valid pointer for an empty block as well
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<uint8_t>((i * 31 + line * 7 + 1) % 251);
    return bytes;
}

// The datagrams a frame must give, built from the cutting rules alone: every
// datagram but the last of a block carries the largest multiple of 8 that
// fits, the last of a block has the end-of-line mark, the last of the line
// height - 1 the end-of-frame mark, packet numbers count on modulo 65536.
std::vector<Bytes> expectedDatagrams(const FrameCase& frame, uint16_t frameNumber, uint16_t firstPacket)
{
    std::vector<Bytes> datagrams;
    uint16_t packet = firstPacket;
    const size_t full = frame.maxPayload - frame.maxPayload % 8;
    for (size_t line = 0; line < frame.sizes.size(); ++line) {
        const Bytes payload = payloadOf(line, frame.sizes[line]);
        size_t offset = 0;
        while (offset < payload.size()) {
            const size_t rest = payload.size() - offset;
            const bool last = rest <= frame.maxPayload;
            const size_t size = last ? rest : full;
            ReplaySensorMessageHeader header{};
            header.frameNumber = frameNumber;
            header.lineNumber = static_cast<uint16_t>(line);
            header.payloadSize = static_cast<uint16_t>(size);
            header.version = 3;
            header.setEndMarks(last, last && line + 1u == frame.height);
            header.packetNumber = packet++;
            header.streamID = kStream;
            header.timestamp = kTimestamp + line;
            Bytes datagram(SENSOR_HEADER_SIZE + size);
            std::memcpy(datagram.data(), &header, SENSOR_HEADER_SIZE);
            std::memcpy(datagram.data() + SENSOR_HEADER_SIZE, payload.data() + offset, size);
            datagrams.push_back(std::move(datagram));
            offset += size;
        }
    }
    return datagrams;
}

VXTQirPacketPropertiesT propertiesOf(uint16_t frameNumber, size_t line)
{
    return VXTQirPacketPropertiesT{ .timestamp = kTimestamp + line,
                                    .frameNumber = frameNumber,
                                    .lineNumber = static_cast<uint16_t>(line),
                                    .streamID = kStream };
}

class BatchedSendFixture : public ApiFixture {
protected:
    VXTQirChannelHandle preparedChannel(uint16_t maxPayload, uint16_t width, uint16_t height, uint32_t freeEntries,
                                        uint32_t timeoutStream_ms = 3000)
    {
        config_ = unit_.config(maxPayload, 1000, timeoutStream_ms);
        const VXTQirChannelHandle handle = registerChannel(config_);
        EXPECT_EQ(api_->initOutputChannel(handle, width, height), NoError);
        unit_.sendStatus(0, STATUS_FLAG_ENABLED, 0, freeEntries, 1);
        EXPECT_TRUE(
            eventually([&] { return api_->channel(handle)->bufferNotifier().freeBufferSlots() == freeEntries; }));
        return handle;
    }

    // Blocks of a frame over the given payloads (kept alive by the caller).
    static std::vector<ReplayBlock> blocksOf(uint16_t frameNumber, const std::vector<Bytes>& payloads)
    {
        std::vector<ReplayBlock> blocks;
        for (size_t line = 0; line < payloads.size(); ++line)
            blocks.push_back(ReplayBlock{ .properties = propertiesOf(frameNumber, line),
                                          .payload = payloads[line].data(),
                                          .payloadSize = static_cast<uint16_t>(payloads[line].size()) });
        return blocks;
    }

    VXTQirInputInterfaceT config_{};
};

// Equivalence at the receiving socket ---------------------------------------

struct EquivalenceCase {
    FrameCase frame;
    Path path;
};

void PrintTo(const EquivalenceCase& c, std::ostream* os)
{
    *os << c.frame.name << " via " << nameOf(c.path);
}

class BatchedSendEquivalence : public BatchedSendFixture, public ::testing::WithParamInterface<EquivalenceCase> { };

TEST_P(BatchedSendEquivalence, PutsTheSameDatagramsOnTheWireAsTheCuttingRulesGive)
{
    const EquivalenceCase& c = GetParam();
    const VXTQirChannelHandle handle = preparedChannel(c.frame.maxPayload, 1920, c.frame.height, 100);
    unit_.startPeriodicStatus(0, 100, std::chrono::milliseconds(2));
    const ChannelStatePtr channel = api_->channel(handle);
    ASSERT_TRUE(channel);
    // Starts close to the wrap, so the numbers run through 65535 to 0.
    const uint16_t firstPacket = 65530;
    channel->setNextPacketNumber(firstPacket);

    std::vector<Bytes> payloads;
    for (size_t line = 0; line < c.frame.sizes.size(); ++line)
        payloads.push_back(payloadOf(line, c.frame.sizes[line]));
    const uint16_t frameNumber = 77;

    if (c.path == Path::OneBlockPerCall) {
        for (size_t line = 0; line < payloads.size(); ++line) {
            const VXTQirPacketPropertiesT properties = propertiesOf(frameNumber, line);
            ASSERT_EQ(api_->replayStreamData(handle, &properties, payloads[line].data(),
                                             static_cast<uint16_t>(payloads[line].size())),
                      NoError);
        }
    } else {
        if (c.path == Path::Multiple)
            channel->limitSendMode(Mode::Multiple);
        if (c.path == Path::Single)
            channel->limitSendMode(Mode::Single);
        const std::vector<ReplayBlock> blocks = blocksOf(frameNumber, payloads);
        size_t sent = 0;
        ASSERT_EQ(api_->replayStreamBlocks(handle, blocks, &sent), NoError);
        EXPECT_EQ(sent, blocks.size());
        const Mode expectedMode = c.path == Path::Segmented ? Mode::Segmented
            : c.path == Path::Multiple                      ? Mode::Multiple
                                                            : Mode::Single;
        EXPECT_EQ(channel->sendMode(), expectedMode);
    }

    const std::vector<Bytes> expected = expectedDatagrams(c.frame, frameNumber, firstPacket);
    const std::vector<Received> received = unit_.waitForData(expected.size());
    ASSERT_EQ(received.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        ASSERT_EQ(received[i].bytes.size(), expected[i].size()) << "datagram " << i;
        EXPECT_TRUE(received[i].bytes == expected[i]) << "datagram " << i << " differs";
    }
    EXPECT_EQ(channel->nextPacketNumber(), static_cast<uint16_t>(firstPacket + expected.size()));
}

std::vector<EquivalenceCase> equivalenceCases()
{
    const std::vector<FrameCase> frames{
        // Uncompressed image rows: equal lines, one datagram each.
        { "IplRows", 8948, 24, repeated(1920, 24) },
        // Uncompressed rows on a 1500-byte link: four datagrams a row, the
        // last shorter.
        { "IplRowsCut", 1448, 6, repeated(5760, 6) },
        // Coded image: equal chunks of the payload size.
        { "CodedChunks", 1448, 40, repeated(1448, 20) },
        // CSI-2 records: varied sizes, an empty record, the frame's end.
        { "Csi2Records", 1448, 9, { 4, 1448, 1449, 0, 37, 2000, 8, 3000, 16 } },
        // Blocks cut into several datagrams, payload size not a multiple of 8.
        { "BlocksCutUneven", 1000, 3, { 5000, 4001, 999 } },
        // More datagrams than one pass holds.
        { "ManySmallDatagrams", 13, 2, { 3000, 40 } },
    };
    std::vector<EquivalenceCase> cases;
    for (const FrameCase& frame : frames)
        for (Path path : { Path::OneBlockPerCall, Path::Segmented, Path::Multiple, Path::Single })
            cases.push_back(EquivalenceCase{ frame, path });
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Frames, BatchedSendEquivalence, ::testing::ValuesIn(equivalenceCases()),
                         [](const auto& testCase) {
                             return std::string(testCase.param.frame.name) + "Via" + nameOf(testCase.param.path);
                         });

// Flow control ----------------------------------------------------------------

struct HoldCase {
    uint32_t freeEntries; // of 100
    size_t blocks;
    size_t expectedSent;
};

void PrintTo(const HoldCase& c, std::ostream* os)
{
    *os << c.blocks << " blocks at " << c.freeEntries << " free";
}

class BatchedSendFlowControl : public BatchedSendFixture, public ::testing::WithParamInterface<HoldCase> { };

TEST_P(BatchedSendFlowControl, LetsABlockGoOnlyWhileAFifthOfTheFifoStaysFreeForIt)
{
    const HoldCase& c = GetParam();
    const VXTQirChannelHandle handle = preparedChannel(1448, 100, 1080, c.freeEntries, 100);
    std::vector<Bytes> payloads(c.blocks, Bytes(100, 5));
    const std::vector<ReplayBlock> blocks = blocksOf(1, payloads);
    size_t sent = 99;
    const VXTQirError result = api_->replayStreamBlocks(handle, blocks, &sent);
    EXPECT_EQ(result, c.expectedSent == c.blocks ? NoError : Timeout);
    EXPECT_EQ(sent, c.expectedSent);
    EXPECT_EQ(unit_.waitForData(c.expectedSent, std::chrono::milliseconds(500)).size(), c.expectedSent);
    EXPECT_EQ(api_->channel(handle)->bufferNotifier().blocksInFlight(), c.expectedSent);
}

INSTANTIATE_TEST_SUITE_P(FreeOfHundred, BatchedSendFlowControl,
                         ::testing::Values(HoldCase{ 19, 1, 0 }, HoldCase{ 20, 1, 1 }, HoldCase{ 20, 3, 1 },
                                           HoldCase{ 22, 3, 3 }, HoldCase{ 21, 3, 2 }),
                         [](const auto& testCase) {
                             return std::to_string(testCase.param.blocks) + "BlocksAt" +
                                 std::to_string(testCase.param.freeEntries) + "Free";
                         });

using BatchedSend = BatchedSendFixture;

TEST_F(BatchedSend, AHeldBatchGoesOnWhenTheUnitReportsRoom)
{
    const VXTQirChannelHandle handle = preparedChannel(1448, 100, 1080, 19, 5000);
    std::vector<Bytes> payloads(10, Bytes(100, 5));
    const std::vector<ReplayBlock> blocks = blocksOf(1, payloads);
    std::thread unit([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        unit_.sendStatus(0, STATUS_FLAG_ENABLED, 0, 20, 2); // one block's room
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        unit_.sendStatus(0, STATUS_FLAG_ENABLED, 0, 100, 3);
    });
    size_t sent = 0;
    EXPECT_EQ(api_->replayStreamBlocks(handle, blocks, &sent), NoError);
    unit.join();
    EXPECT_EQ(sent, 10u);
    EXPECT_EQ(unit_.waitForData(10).size(), 10u);
}

TEST_F(BatchedSend, ThePacketWindowHoldsAcrossTheSixteenBitWrap)
{
    // The unit last received packet 50000: the window reaches 50000 + 16000,
    // which is 464 after the wrap. Blocks starting at 460..464 may go, 465
    // may not, although 465 is numerically below 50000.
    const VXTQirChannelHandle handle = preparedChannel(1448, 100, 1080, 100, 100);
    unit_.sendStatus(0, STATUS_FLAG_ENABLED, 50000, 100, 2);
    const ChannelStatePtr channel = api_->channel(handle);
    ASSERT_TRUE(eventually([&] { return !channel->bufferNotifier().maySend(465); }));
    channel->setNextPacketNumber(460);
    std::vector<Bytes> payloads(10, Bytes(64, 1));
    const std::vector<ReplayBlock> blocks = blocksOf(1, payloads);
    size_t sent = 0;
    EXPECT_EQ(api_->replayStreamBlocks(handle, blocks, &sent), Timeout);
    EXPECT_EQ(sent, 5u);
    EXPECT_EQ(channel->nextPacketNumber(), 465);

    // The rest goes from where the batch stopped once the unit catches up.
    unit_.sendStatus(0, STATUS_FLAG_ENABLED, 60000, 100, 3);
    ASSERT_TRUE(eventually([&] { return channel->bufferNotifier().maySend(465); }));
    const std::span<const ReplayBlock> rest(blocks.begin() + 5, blocks.end());
    EXPECT_EQ(api_->replayStreamBlocks(handle, rest, &sent), NoError);
    EXPECT_EQ(sent, 5u);
    const std::vector<Received> data = unit_.waitForData(10);
    ASSERT_EQ(data.size(), 10u);
    for (size_t i = 0; i < data.size(); ++i)
        EXPECT_EQ(+sensorHeader(data[i]).packetNumber, 460 + i);
}

TEST_F(BatchedSend, RefusesANullPayloadBeforeSendingAnything)
{
    const VXTQirChannelHandle handle = preparedChannel(1448, 100, 1080, 100);
    const Bytes payload(10, 1);
    const std::vector<ReplayBlock> blocks{
        { .properties = propertiesOf(1, 0), .payload = payload.data(), .payloadSize = 10 },
        { .properties = propertiesOf(1, 1), .payload = nullptr, .payloadSize = 10 },
    };
    size_t sent = 99;
    EXPECT_EQ(api_->replayStreamBlocks(handle, blocks, &sent), InvalidPointer);
    EXPECT_EQ(sent, 0u);
    EXPECT_EQ(api_->replayStreamBlocks(handle, blocks, nullptr), InvalidPointer);
    EXPECT_EQ(api_->replayStreamBlocks(12345, blocks, &sent), InvalidChannelHandle);
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_TRUE(unit_.data().empty());
}

TEST_F(BatchedSend, ADatagramTooLargeForTheNetworkIsAFragmentationErrorAndNotCounted)
{
    const VXTQirChannelHandle handle = preparedChannel(65535, 100, 1080, 100);
    const std::vector<Bytes> payloads{ Bytes(100, 1), Bytes(65535, 2), Bytes(100, 3) };
    const std::vector<ReplayBlock> blocks = blocksOf(1, payloads);
    size_t sent = 0;
    EXPECT_EQ(api_->replayStreamBlocks(handle, blocks, &sent), PacketFragmentation);
    EXPECT_EQ(sent, 1u);
    EXPECT_EQ(api_->channel(handle)->nextPacketNumber(), 1);
    EXPECT_EQ(unit_.waitForData(1).size(), 1u);
}

// The sender on its own -------------------------------------------------------

class ReceivingSocket {
public:
    ReceivingSocket()
    {
        fd_ = ::socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        ::inet_pton(AF_INET, "127.0.0.3", &address.sin_addr);
        EXPECT_EQ(::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
        socklen_t length = sizeof(address_);
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address_), &length);
        const timeval wait{ .tv_sec = 2, .tv_usec = 0 };
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof(wait));
    }
    ~ReceivingSocket() { ::close(fd_); }
    const sockaddr_in& address() const { return address_; }
    // The size of the next datagram, -1 when none came in time.
    ssize_t receive()
    {
        static std::vector<uint8_t> buffer(70000);
        return ::recv(fd_, buffer.data(), buffer.size(), 0);
    }

private:
    int fd_ = -1;
    sockaddr_in address_{};
};

TEST(SensorDatagramSenderAlone, MovesOnToSendmmsgWhenTheKernelRefusesSegmentation)
{
    ReceivingSocket receiver;
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    ASSERT_GE(fd, 0);
    // A socket without UDP checksums cannot use segmentation offload: the
    // kernel refuses it with EINVAL while single datagrams still go.
    const int noCheck = 1;
    ASSERT_EQ(::setsockopt(fd, SOL_SOCKET, SO_NO_CHECK, &noCheck, sizeof(noCheck)), 0);

    SensorDatagramSender sender;
    const Bytes payload(1000, 9);
    for (uint16_t i = 0; i < 8; ++i) {
        ReplaySensorMessageHeader header{};
        header.packetNumber = i;
        sender.add(header, payload.data(), payload.size());
    }
    const SensorDatagramSender::Result result = sender.send(fd, receiver.address());
    EXPECT_EQ(result.error, SocketError::NoError);
    EXPECT_EQ(result.sent, 8u);
    EXPECT_EQ(sender.mode(), Mode::Multiple);
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(receiver.receive(), static_cast<ssize_t>(SENSOR_HEADER_SIZE + 1000)) << i;
    ::close(fd);
}

TEST(SensorDatagramSenderAlone, ALimitNeverRaisesTheMethodAgain)
{
    SensorDatagramSender sender;
    sender.limitMode(Mode::Single);
    sender.limitMode(Mode::Segmented);
    EXPECT_EQ(sender.mode(), Mode::Single);
}

} // namespace
} // namespace vxqir::test
