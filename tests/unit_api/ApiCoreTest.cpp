// Registration, handles, argument checks and local endpoints of the core.
#include "ApiFixture.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <vector>
#include <string>

namespace vxqir::test {
namespace {

using ApiCore = ApiFixture;

TEST_F(ApiCore, HandlesCountUpFromZeroAndAreNeverReused)
{
    const VXTQirInputInterfaceT config = unit_.config();
    EXPECT_EQ(registerChannel(config, 0), 0);
    EXPECT_EQ(registerChannel(config, 1), 1);
    EXPECT_EQ(api_->unregisterOutputChannel(0), NoError);
    EXPECT_EQ(registerChannel(config, 0), 2);
    EXPECT_EQ(api_->unregisterOutputChannel(0), InvalidChannelHandle);
}

struct RegistrationCase {
    const char* name;
    std::function<void(VXTQirInputInterfaceT&)> change;
    bool nullConfig;
    bool nullHandle;
    VXTQirChannelNumber index;
    VXTQirError expected;
};

// Keeps the discovered test names free of byte dumps.
void PrintTo(const RegistrationCase& c, std::ostream* out)
{
    *out << c.name;
}

class Registration : public ApiFixture, public ::testing::WithParamInterface<RegistrationCase> { };

TEST_P(Registration, ChecksItsArgumentsInOrder)
{
    const RegistrationCase& c = GetParam();
    VXTQirInputInterfaceT config = unit_.config();
    if (c.change)
        c.change(config);
    VXTQirChannelHandle handle = -7;
    EXPECT_EQ(api_->registerOutputChannel(c.nullConfig ? nullptr : &config, c.index, c.nullHandle ? nullptr : &handle),
              c.expected);
    if (c.expected != NoError) {
        EXPECT_EQ(handle, -7); // nothing written
    }
}

auto noChange = std::function<void(VXTQirInputInterfaceT&)>{};

INSTANTIATE_TEST_SUITE_P(
    Cases, Registration,
    ::testing::Values(
        RegistrationCase{ "Valid", noChange, false, false, 0, NoError },
        RegistrationCase{ "NullConfigBeforeEverything", noChange, true, true, -1, InvalidPointer },
        RegistrationCase{ "BadConfigBeforeNullHandle", [](VXTQirInputInterfaceT& c) { c.dataIP = nullptr; }, false,
                          true, -1, InvalidInterfaceConfig },
        RegistrationCase{ "NullHandleBeforeIndex", noChange, false, true, -1, InvalidPointer },
        RegistrationCase{ "NegativeIndex", noChange, false, false, -1, InvalidChannelIndex },
        RegistrationCase{ "NullControlAddress", [](VXTQirInputInterfaceT& c) { c.controlIP = nullptr; }, false, false,
                          0, InvalidInterfaceConfig },
        RegistrationCase{ "HostNameAsControlAddress", [](VXTQirInputInterfaceT& c) { c.controlIP = "localhost"; },
                          false, false, 0, InvalidInterfaceConfig },
        RegistrationCase{ "MalformedLocalAddress", [](VXTQirInputInterfaceT& c) { c.localIP = "127.0.0"; }, false,
                          false, 0, InvalidInterfaceConfig },
        RegistrationCase{ "NullLocalAddressMeansAll", [](VXTQirInputInterfaceT& c) { c.localIP = nullptr; }, false,
                          false, 0, NoError },
        RegistrationCase{ "AllLocalAddresses", [](VXTQirInputInterfaceT& c) { c.localIP = "0.0.0.0"; }, false, false, 0,
                          NoError },
        RegistrationCase{ "PayloadTooSmallToCut", [](VXTQirInputInterfaceT& c) { c.maxPayloadSize = 7; }, false, false,
                          0, InvalidInterfaceConfig },
        RegistrationCase{ "SmallestPayload", [](VXTQirInputInterfaceT& c) { c.maxPayloadSize = 8; }, false, false, 0,
                          NoError },
        RegistrationCase{ "HighestOneByteIndex", noChange, false, false, 255, NoError },
        // Replies are routed by one channel byte: 256 would configure the
        // unit's channel 0 and never be answered.
        RegistrationCase{ "IndexAboveOneByte", noChange, false, false, 256, InvalidChannelIndex },
        RegistrationCase{ "LargestIndex", noChange, false, false, 0x7fffffff, InvalidChannelIndex }),
    [](const auto& testCase) { return std::string(testCase.param.name); });

TEST_F(ApiCore, EveryPerChannelCallChecksTheHandleBeforeItsPointers)
{
    const VXTQirChannelHandle unknown = 12345;
    EXPECT_EQ(api_->unregisterOutputChannel(unknown), InvalidChannelHandle);
    EXPECT_EQ(api_->initOutputChannel(unknown, 1, 1), InvalidChannelHandle);
    EXPECT_EQ(api_->isOutputChannelAvailable(unknown), InvalidChannelHandle);
    EXPECT_EQ(api_->setReplayStartTime(unknown, 2, 0, 1), InvalidChannelHandle);
    EXPECT_EQ(api_->setReplayOffset(unknown, 1), InvalidChannelHandle);
    EXPECT_EQ(api_->setReplayStopTime(unknown, 1), InvalidChannelHandle);
    EXPECT_EQ(api_->getCurrentState(unknown, nullptr), InvalidChannelHandle);
    EXPECT_EQ(api_->getReplayStartTime(unknown, nullptr, nullptr, nullptr), InvalidChannelHandle);
    EXPECT_EQ(api_->getReplayOffset(unknown, nullptr), InvalidChannelHandle);
    EXPECT_EQ(api_->getReplayStopTime(unknown, nullptr), InvalidChannelHandle);
    EXPECT_EQ(api_->getFrameSize(unknown, nullptr, nullptr), InvalidChannelHandle);
    EXPECT_EQ(api_->replayStreamData(unknown, nullptr, nullptr, 0), InvalidChannelHandle);
    EXPECT_EQ(api_->resetChannel(unknown), InvalidChannelHandle);
    EXPECT_EQ(api_->clearStatusFlags(unknown), InvalidChannelHandle);
    EXPECT_TRUE(unit_.requests().empty());
}

TEST_F(ApiCore, NullOutputPointersOfAKnownHandleAreRefusedWithoutTalkingToTheUnit)
{
    const VXTQirInputInterfaceT config = unit_.config();
    const VXTQirChannelHandle handle = registerChannel(config);
    uint16_t width = 0;
    const uint8_t byte = 0;
    const VXTQirPacketPropertiesT packet{};
    EXPECT_EQ(api_->getCurrentState(handle, nullptr), InvalidPointer);
    EXPECT_EQ(api_->getReplayStartTime(handle, nullptr, nullptr, nullptr), InvalidPointer);
    EXPECT_EQ(api_->getReplayOffset(handle, nullptr), InvalidPointer);
    EXPECT_EQ(api_->getReplayStopTime(handle, nullptr), InvalidPointer);
    EXPECT_EQ(api_->getFrameSize(handle, &width, nullptr), InvalidPointer);
    EXPECT_EQ(api_->getFrameSize(handle, nullptr, &width), InvalidPointer);
    EXPECT_EQ(api_->replayStreamData(handle, &packet, nullptr, 1), InvalidPointer);
    EXPECT_EQ(api_->replayStreamData(handle, nullptr, &byte, 1), InvalidPointer);
    EXPECT_TRUE(unit_.requests().empty());
}

TEST_F(ApiCore, AUnitChannelCanBeRegisteredOnlyOncePerProcess)
{
    VXTQirInputInterfaceT config = unit_.config();
    registerChannel(config, 4);
    VXTQirInputInterfaceT otherEndpoint = config;
    otherEndpoint.localIP = "127.0.0.6"; // another local endpoint does not matter
    VXTQirChannelHandle handle = -1;
    EXPECT_EQ(api_->registerOutputChannel(&otherEndpoint, 4, &handle), ChannelAlreadyRegistered);

    VXTQirInputInterfaceT otherUnit = config;
    otherUnit.controlIP = "127.0.0.7";
    EXPECT_EQ(api_->registerOutputChannel(&otherUnit, 4, &handle), NoError);
}

TEST_F(ApiCore, TwoUnitsBehindOneLocalEndpointShareItsSocketAndGetTheirOwnStatus)
{
    ScriptedUnit second("127.0.0.4", "127.0.0.5");
    VXTQirInputInterfaceT first = unit_.config();
    VXTQirInputInterfaceT other = second.config();
    const VXTQirChannelHandle a = registerChannel(first, 1);
    const VXTQirChannelHandle b = registerChannel(other, 1);
    EXPECT_EQ(api_->interfaceCount(), 1u);
    ASSERT_EQ(api_->resetChannel(a), NoError);
    ASSERT_EQ(api_->resetChannel(b), NoError);
    EXPECT_EQ(unit_.requests().at(0).senderPort, second.requests().at(0).senderPort);

    unit_.sendStatus(1, STATUS_FLAG_ENABLED, 0, 11, 1);
    second.sendStatus(1, STATUS_FLAG_LOSS, 0, 22, 2);
    sync(a);
    ASSERT_EQ(api_->resetChannel(b), NoError);
    VXTQirStatusT sa{}, sb{};
    ASSERT_EQ(api_->getCurrentState(a, &sa), NoError);
    ASSERT_EQ(api_->getCurrentState(b, &sb), NoError);
    EXPECT_EQ(sa.freeFifoEntries, 11u);
    EXPECT_TRUE(sa.enabled);
    EXPECT_EQ(sb.freeFifoEntries, 22u);
    EXPECT_TRUE(sb.loss);
}

TEST_F(ApiCore, NoLocalAddressAndAllLocalAddressesNameOneEndpoint)
{
    VXTQirInputInterfaceT a = unit_.config();
    a.localIP = nullptr;
    VXTQirInputInterfaceT b = a;
    b.localIP = "0.0.0.0";
    registerChannel(a, 0);
    registerChannel(b, 1);
    EXPECT_EQ(api_->interfaceCount(), 1u);
}

TEST_F(ApiCore, ABusyLocalPortFailsRegistrationAndALaterOneRetriesTheBind)
{
    const int blocker = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    ::inet_pton(AF_INET, "127.0.0.1", &address.sin_addr);
    ASSERT_EQ(::bind(blocker, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    socklen_t length = sizeof(address);
    ::getsockname(blocker, reinterpret_cast<sockaddr*>(&address), &length);

    VXTQirInputInterfaceT config = unit_.config();
    config.localPort = ntohs(address.sin_port);
    VXTQirChannelHandle handle = -1;
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(api_->registerOutputChannel(&config, 0, &handle), ControlSocketError);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "-1\nBind: The given address is already in use.\n");
    EXPECT_EQ(api_->interfaceCount(), 0u);

    ::close(blocker);
    EXPECT_EQ(api_->registerOutputChannel(&config, 0, &handle), NoError);
    EXPECT_EQ(handle, 0); // the failed attempt used no handle
    EXPECT_EQ(api_->boundControlPort(config), config.localPort);
}

TEST_F(ApiCore, TheLastChannelOfAnEndpointClosesItsSocketAndANewOneBindsAgain)
{
    VXTQirInputInterfaceT config = unit_.config();
    const VXTQirChannelHandle first = registerChannel(config, 0);
    config.localPort = api_->boundControlPort(config);
    ASSERT_NE(config.localPort, 0);
    // Same endpoint spelled with its fixed port is another endpoint object,
    // and binding it fails while the first one holds the port.
    VXTQirChannelHandle handle = -1;
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(api_->registerOutputChannel(&config, 1, &handle), ControlSocketError);
    ::testing::internal::GetCapturedStdout();

    ASSERT_EQ(api_->unregisterOutputChannel(first), NoError);
    EXPECT_EQ(api_->interfaceCount(), 0u);
    EXPECT_EQ(api_->registerOutputChannel(&config, 1, &handle), NoError);
}

// Takes every free descriptor below a lowered limit, so that the next
// socket() fails with EMFILE; gives them back (and the limit) when destroyed.
class DescriptorExhaustion {
public:
    DescriptorExhaustion()
    {
        ::getrlimit(RLIMIT_NOFILE, &saved_);
        rlimit lowered = saved_;
        lowered.rlim_cur = std::min<rlim_t>(saved_.rlim_cur, 1024);
        ::setrlimit(RLIMIT_NOFILE, &lowered);
        for (int fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC); fd >= 0;
             fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC))
            held_.push_back(fd);
    }
    ~DescriptorExhaustion()
    {
        for (int fd : held_)
            ::close(fd);
        ::setrlimit(RLIMIT_NOFILE, &saved_);
    }
    // Frees exactly one descriptor.
    void releaseOne()
    {
        ::close(held_.back());
        held_.pop_back();
    }
    size_t held() const { return held_.size(); }

private:
    rlimit saved_{};
    std::vector<int> held_;
};

TEST_F(ApiCore, ARegistrationWithoutADataSocketIsRefusedAndLeavesNothingBehind)
{
    VXTQirInputInterfaceT config = unit_.config();
    const VXTQirChannelHandle first = registerChannel(config, 0);
    VXTQirInputInterfaceT otherEndpoint = config;
    otherEndpoint.localIP = "127.0.0.5";

    VXTQirChannelHandle handle = -7;
    VXTQirError sameEndpoint = NoError, newEndpoint = NoError;
    size_t endpoints = 0;
    ::testing::internal::CaptureStdout();
    {
        DescriptorExhaustion exhaustion;
        ASSERT_GT(exhaustion.held(), 0u);
        // The endpoint exists; only the channel's data socket is missing.
        sameEndpoint = api_->registerOutputChannel(&config, 1, &handle);
        // A new endpoint gets its control socket, then the data socket fails:
        // the endpoint goes again.
        exhaustion.releaseOne();
        newEndpoint = api_->registerOutputChannel(&otherEndpoint, 1, &handle);
        endpoints = api_->interfaceCount();
    }
    // Checked once standard output is back, so that failures are seen.
    const std::string printed = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(sameEndpoint, DataSocketError);
    EXPECT_EQ(newEndpoint, DataSocketError);
    EXPECT_EQ(endpoints, 1u);
    EXPECT_NE(printed.find("Error: Failed to create socket"), std::string::npos) << printed;
    EXPECT_EQ(handle, -7);
    EXPECT_TRUE(unit_.requests().empty()) << "a refused channel says nothing to the unit";

    EXPECT_EQ(registerChannel(config, 1), first + 1) << "the refusals used no handle";
    EXPECT_EQ(registerChannel(otherEndpoint, 2), first + 2);
}

TEST(ApiReachability, ProbesTheControlAddressFirstAndStopsAtItsFailure)
{
    std::vector<std::string> probed;
    auto api = VXQIRApiS::createIsolated([] { return int64_t{ 0 }; },
                                         [&](const char* ip) {
                                             probed.emplace_back(ip);
                                             return std::string(ip) != "127.0.0.2";
                                         });
    VXTQirInputInterfaceT config{};
    config.controlIP = "127.0.0.2";
    config.dataIP = "127.0.0.3";
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(api->isInputInterfaceAvailable(&config), ControlInterfaceNotAvailable);
    EXPECT_EQ(probed, std::vector<std::string>{ "127.0.0.2" });

    config.controlIP = "127.0.0.4";
    config.dataIP = "127.0.0.2";
    EXPECT_EQ(api->isInputInterfaceAvailable(&config), DataInterfaceNotAvailable);
    config.dataIP = "127.0.0.5";
    EXPECT_EQ(api->isInputInterfaceAvailable(&config), NoError);
    ::testing::internal::GetCapturedStdout();

    EXPECT_EQ(api->isInputInterfaceAvailable(nullptr), InvalidPointer);
    config.localIP = "nonsense";
    EXPECT_EQ(api->isInputInterfaceAvailable(&config), InvalidInterfaceConfig);
}

} // namespace
} // namespace vxqir::test
