#include "ReplayMessages.h"
#include "SocketHandle.h"
#include "socket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace vxqir {
namespace {

uint16_t localPort(int fd)
{
    sockaddr_in address{};
    socklen_t length = sizeof(address);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    return ntohs(address.sin_port);
}

struct Ipv4Case {
    const char* text;
    bool valid;
};

class IsValidIpv4 : public ::testing::TestWithParam<Ipv4Case> { };

TEST_P(IsValidIpv4, AcceptsExactlyDottedDecimalAddresses)
{
    EXPECT_EQ(is_valid_ipv4(GetParam().text), GetParam().valid) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(Texts, IsValidIpv4,
                         ::testing::Values(Ipv4Case{ "127.0.0.1", true }, Ipv4Case{ "0.0.0.0", true },
                                           Ipv4Case{ "255.255.255.255", true }, Ipv4Case{ "::1", false },
                                           Ipv4Case{ "", false }, Ipv4Case{ "localhost", false },
                                           Ipv4Case{ "1.2.3", false }, Ipv4Case{ "1.2.3.256", false },
                                           Ipv4Case{ "1.2.3.4 ", false }, Ipv4Case{ "1.2.3.4;reboot", false },
                                           Ipv4Case{ nullptr, false }));

// Replaces the ping program for the duration of a test by a script that
// records its arguments and exits with a chosen status.
class FakePing : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir_ = std::filesystem::temp_directory_path() /
            ("fake-ping-" + std::to_string(::getpid()) + "-" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(dir_);
        oldPath_ = std::getenv("PATH") ? std::getenv("PATH") : "";
        ::setenv("PATH", (dir_.string() + ":" + oldPath_).c_str(), 1);
        answer(0);
    }
    void TearDown() override
    {
        ::setenv("PATH", oldPath_.c_str(), 1);
        std::filesystem::remove_all(dir_);
    }
    void answer(int status)
    {
        const auto script = dir_ / "ping";
        std::ofstream(script) << "#!/bin/sh\necho \"$@\" >> '" << log().string() << "'\nexit " << status << "\n";
        std::filesystem::permissions(script, std::filesystem::perms::owner_all);
    }
    std::filesystem::path log() const { return dir_ / "calls"; }
    std::vector<std::string> calls() const
    {
        std::vector<std::string> lines;
        std::ifstream in(log());
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
        return lines;
    }

    std::filesystem::path dir_;
    std::string oldPath_;
};

TEST_F(FakePing, ProbesOnceWithOnePingOfOneByteAndOneSecondWait)
{
    EXPECT_TRUE(is_available("127.0.0.1"));
    EXPECT_EQ(calls(), std::vector<std::string>{ "-c1 -s1 -W1 127.0.0.1" });
}

TEST_F(FakePing, CountsAFailedPingAsUnreachable)
{
    answer(1);
    EXPECT_FALSE(is_available("127.0.0.1"));
}

TEST_F(FakePing, RunsNothingForTextsThatAreNoAddress)
{
    for (const char* text : { "localhost", "", "1.2.3", "1.2.3.256", "1.2.3.4;touch /tmp/x", "$(reboot)" })
        EXPECT_FALSE(is_available(text)) << text;
    EXPECT_FALSE(is_available(nullptr));
    EXPECT_TRUE(calls().empty());
}

TEST(SocketLayer, BindingAnAddressInUseIsRefusedWithItsReason)
{
    SocketHandle first(socket_create());
    ASSERT_TRUE(first.valid());
    ASSERT_EQ(bind_socket(first.get(), "127.0.0.1", 0), SocketError::NoError);
    SocketHandle second(socket_create());

    ::testing::internal::CaptureStdout();
    const SocketError result = bind_socket(second.get(), "127.0.0.1", localPort(first.get()));
    const std::string printed = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(result, SocketError::GenericError);
    EXPECT_EQ(printed, "-1\nBind: The given address is already in use.\n");
}

TEST(SocketLayer, BindingTwiceSaysTheSocketIsAlreadyBound)
{
    SocketHandle socket(socket_create());
    ASSERT_EQ(bind_socket(socket.get(), "127.0.0.1", 0), SocketError::NoError);
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(bind_socket(socket.get(), "127.0.0.1", 0), SocketError::GenericError);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "-1\nBind: The socket is already bound to an address.\n");
}

TEST(SocketLayer, SocketsCarryTheDontFragmentPolicy)
{
    SocketHandle socket(socket_create());
    int policy = -1;
    socklen_t length = sizeof(policy);
    ASSERT_EQ(::getsockopt(socket.get(), IPPROTO_IP, IP_MTU_DISCOVER, &policy, &length), 0);
    EXPECT_EQ(policy, IP_PMTUDISC_DO);
}

TEST(SocketLayer, ReceivesAnEmptyDatagramAsZeroBytesWithItsSender)
{
    SocketHandle receiver(socket_create());
    ASSERT_EQ(bind_socket(receiver.get(), "127.0.0.1", 0), SocketError::NoError);
    SocketHandle sender(socket_create());
    ASSERT_EQ(bind_socket(sender.get(), "127.0.0.5", 0), SocketError::NoError);
    ASSERT_EQ(socket_send(sender.get(), "", 0, 0, "127.0.0.1", localPort(receiver.get())), SocketError::NoError);

    uint8_t buffer[16];
    int received = -1;
    char ip[16] = {};
    EXPECT_EQ(socket_receive(receiver.get(), buffer, sizeof(buffer), 0, received, ip, sizeof(ip)), 0);
    EXPECT_EQ(received, 0);
    EXPECT_STREQ(ip, "127.0.0.5");
}

TEST(SocketLayer, NonWaitingReceiveOnAnEmptySocketReturnsAtOnceWithoutAMessage)
{
    SocketHandle receiver(socket_create());
    ASSERT_EQ(bind_socket(receiver.get(), "127.0.0.1", 0), SocketError::NoError);
    uint8_t buffer[16];
    int received = 42;
    char ip[16] = "unchanged";
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(socket_receive(receiver.get(), buffer, sizeof(buffer), MSG_DONTWAIT, received, ip, sizeof(ip)), -1);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(received, 42);
    EXPECT_STREQ(ip, "unchanged");
}

TEST(SocketLayer, ADatagramAboveTheLargestUdpSizeIsAFragmentationError)
{
    SocketHandle socket(socket_create());
    std::vector<uint8_t> big(SENSOR_HEADER_SIZE + 65535);
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(socket_send(socket.get(), big.data(), static_cast<int>(big.size()), 0, "127.0.0.1", 9),
              SocketError::FragmentationError);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Error: Failed to send data (errno 90)\n");
}

TEST(SocketLayer, SendingOnAnInvalidDescriptorIsAGenericError)
{
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(socket_send(-1, "x", 1, 0, "127.0.0.1", 9), SocketError::GenericError);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Error: Failed to send data (errno 9)\n");
}

} // namespace
} // namespace vxqir
