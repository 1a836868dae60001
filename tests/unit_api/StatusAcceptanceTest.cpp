// Which status datagrams reach a channel, against real sockets on loopback.
#include "ApiFixture.h"

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <random>

namespace vxqir::test {
namespace {

Bytes periodicStatus(uint8_t channel, uint32_t freeEntries)
{
    Bytes status = makeStatus(channel, RESPONSE_PERIODIC_STATUS, 0);
    auto* message = reinterpret_cast<ReplayStatusMessage*>(status.data());
    message->payload.status.flags = STATUS_FLAG_ENABLED | STATUS_FLAG_PTP_ACTIVE;
    message->payload.status.rx_packet_num = 17;
    message->payload.status.free_fifo_entries = freeEntries;
    message->payload.status.currenttime_ns = 123456789;
    return status;
}

// A socket of some other host address that sends to the client.
class ForeignSender {
public:
    explicit ForeignSender(const char* ip)
    {
        fd_ = ::socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        ::inet_pton(AF_INET, ip, &address.sin_addr);
        ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof(address));
    }
    ~ForeignSender() { ::close(fd_); }
    void send(const Bytes& bytes, const sockaddr_in& to)
    {
        ::sendto(fd_, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof(to));
    }

private:
    int fd_ = -1;
};

class StatusAcceptance : public ApiFixture {
protected:
    void SetUp() override
    {
        config_ = unit_.config();
        handle_ = registerChannel(config_, 3);
        sync(handle_); // the unit now knows the client's address
    }

    VXTQirError state(VXTQirStatusT& status) { return api_->getCurrentState(handle_, &status); }

    VXTQirInputInterfaceT config_{};
    VXTQirChannelHandle handle_ = -1;
};

TEST_F(StatusAcceptance, APeriodicStatusOfExactLengthUpdatesTheChannel)
{
    VXTQirStatusT status{};
    EXPECT_EQ(state(status), DataNotAvailable);
    unit_.sendRaw(periodicStatus(3, 42));
    sync(handle_);
    ASSERT_EQ(state(status), NoError);
    EXPECT_TRUE(status.enabled);
    EXPECT_FALSE(status.loss);
    EXPECT_FALSE(status.ptpSynced);
    EXPECT_TRUE(status.ptpActive);
    EXPECT_EQ(status.freeFifoEntries, 42u);
    EXPECT_EQ(status.currentTime_ns, 123456789u);
}

struct DropCase {
    const char* name;
    void (*spoil)(Bytes&);
};

class DroppedStatus : public StatusAcceptance, public ::testing::WithParamInterface<DropCase> { };

TEST_P(DroppedStatus, NeverReachesTheChannel)
{
    Bytes status = periodicStatus(3, 42);
    GetParam().spoil(status);
    unit_.sendRaw(status);
    sync(handle_);
    VXTQirStatusT out{};
    EXPECT_EQ(state(out), DataNotAvailable);
}

INSTANTIATE_TEST_SUITE_P(Spoiled, DroppedStatus,
                         ::testing::Values(DropCase{ "LengthByteOneShort", [](Bytes& b) { b[6] = 27; } },
                                           DropCase{ "LengthByteOneLong", [](Bytes& b) { b[6] = 29; } },
                                           DropCase{ "VersionTwo", [](Bytes& b) { b[5] = 2; } },
                                           DropCase{ "ControlMagic", [](Bytes& b) { b[4] = 'C'; } },
                                           DropCase{ "LowerCaseMagic", [](Bytes& b) { b[0] = 'q'; } },
                                           DropCase{ "OtherChannel", [](Bytes& b) { b[7] = 4; } },
                                           DropCase{ "SevenBytes", [](Bytes& b) { b.resize(7); } },
                                           DropCase{ "Empty", [](Bytes& b) { b.clear(); } },
                                           DropCase{ "LongerThan255",
                                                     [](Bytes& b) {
                                                         b.resize(300, 0);
                                                         b[6] = 44;
                                                     } },
                                           DropCase{ "LongerThanABuffer",
                                                     [](Bytes& b) {
                                                         b.resize(1600, 0);
                                                         b[6] = 64;
                                                     } }),
                         [](const auto& testCase) { return std::string(testCase.param.name); });

TEST_F(StatusAcceptance, AShortDatagramIsReadWithZerosBeyondItsLength)
{
    Bytes status = periodicStatus(3, 42);
    status.resize(20); // header, flags, packet number and free count; no clock
    status[6] = 20;
    unit_.sendRaw(status);
    sync(handle_);
    VXTQirStatusT out{};
    ASSERT_EQ(state(out), NoError);
    EXPECT_EQ(out.freeFifoEntries, 42u);
    EXPECT_EQ(out.currentTime_ns, 0u);
}

TEST_F(StatusAcceptance, AStatusFromAnotherAddressIsDropped)
{
    // Same bytes, sent from the unit's data address instead of its control
    // address.
    ForeignSender foreign(unit_.dataIp().c_str());
    foreign.send(periodicStatus(3, 42), *unit_.client());
    sync(handle_);
    VXTQirStatusT out{};
    EXPECT_EQ(state(out), DataNotAvailable);
}

TEST_F(StatusAcceptance, AStatusForAChannelRegisteredLaterArrivesOnceItIsRegistered)
{
    unit_.sendRaw(periodicStatus(7, 1));
    sync(handle_);
    const VXTQirChannelHandle seven = registerChannel(config_, 7);
    VXTQirStatusT out{};
    EXPECT_EQ(api_->getCurrentState(seven, &out), DataNotAvailable);
    unit_.sendRaw(periodicStatus(7, 2));
    sync(handle_);
    ASSERT_EQ(api_->getCurrentState(seven, &out), NoError);
    EXPECT_EQ(out.freeFifoEntries, 2u);
}

TEST_F(StatusAcceptance, AFloodOfHostileDatagramsChangesNothingAndHangsNothing)
{
    std::mt19937 random(7);
    ForeignSender foreign("127.0.0.9");
    const sockaddr_in client = *unit_.client();
    for (int i = 0; i < 5000; ++i) {
        Bytes junk(random() % 64);
        for (uint8_t& byte : junk)
            byte = static_cast<uint8_t>(random());
        if (junk.size() >= 8 && i % 2 == 0) { // half of them look nearly right
            std::memcpy(junk.data(), QIR_STATUS_MAGIC_BYTES.data(), 5);
            junk[5] = QIR_PROTOCOL_VERSION;
            junk[6] = static_cast<uint8_t>(junk.size());
        }
        if (i % 3 == 0)
            foreign.send(junk, client);
        else if (junk.size() >= 8 && junk[7] != 3)
            unit_.sendRaw(junk); // right sender, but never this channel
    }
    // A flood may overrun the socket's queue and take a reply with it; the
    // channel must answer again once it is over.
    EXPECT_TRUE(eventually([&] { return api_->resetChannel(handle_) == NoError; }, std::chrono::milliseconds(10000)));
    VXTQirStatusT out{};
    EXPECT_EQ(state(out), DataNotAvailable);
    unit_.sendRaw(periodicStatus(3, 9));
    sync(handle_);
    ASSERT_EQ(state(out), NoError);
    EXPECT_EQ(out.freeFifoEntries, 9u);
}

} // namespace
} // namespace vxqir::test
