// The reachability probe runs the ping found on PATH with its fixed command
// line, and a caller can give up a slow one.
#include "FakePing.h"
#include "VXQIRProbe.h"
#include "socket.h"

#include <gtest/gtest.h>

#include <signal.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

namespace vxqir::test {
namespace {

using namespace std::chrono_literals;
using qir::test::FakePing;

// Generous bound for anything the tests wait for; nothing measures speed.
constexpr auto WAIT = 20s;

bool eventuallyStarted(const FakePing& ping)
{
    const auto deadline = std::chrono::steady_clock::now() + WAIT;
    while (ping.args().empty() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(5ms);
    return !ping.args().empty();
}

struct PingCase {
    const char* name;
    int status;
    bool reachable;
};

class ReachabilityProbe : public ::testing::TestWithParam<PingCase> { };

TEST_P(ReachabilityProbe, RunsOnePingOfTheAddressAndTakesItsExitStatus)
{
    FakePing ping(0, GetParam().status);
    EXPECT_EQ(is_available("127.0.0.2"), GetParam().reachable);
    EXPECT_EQ(ping.args(), "-c1 -s1 -W1 127.0.0.2\n");
}

INSTANTIATE_TEST_SUITE_P(Answers, ReachabilityProbe,
                         ::testing::Values(PingCase{ "Answered", 0, true }, PingCase{ "NoAnswer", 1, false },
                                           PingCase{ "Failed", 2, false }),
                         [](const ::testing::TestParamInfo<PingCase>& testCase) { return testCase.param.name; });

TEST(ReachabilityProbeInput, WhatIsNotAnAddressRunsNothing)
{
    FakePing ping(0, 0);
    for (const char* text : { "127.0.0.2; touch x", "unit-a", "", "127.0.0.2 " })
        EXPECT_FALSE(is_available(text)) << text;
    EXPECT_FALSE(is_available(nullptr));
    EXPECT_EQ(ping.args(), "");
}

TEST(ReachabilityProbeInterrupt, ASlowPingIsGivenUpFromAnotherThreadAndStopped)
{
    FakePing ping(60, 0);
    auto probe = std::async(std::launch::async, [] { return is_available("127.0.0.2"); });
    ASSERT_TRUE(eventuallyStarted(ping));
    const pid_t pingPid = ping.pid();
    ASSERT_GT(pingPid, 0);

    InterruptReachabilityProbes();
    ASSERT_EQ(probe.wait_for(WAIT), std::future_status::ready) << "the probe still waits for ping";
    EXPECT_FALSE(probe.get());
    EXPECT_NE(::kill(pingPid, 0), 0) << "ping still runs";
}

TEST(ReachabilityProbeInterrupt, AProbeStartedAfterAnInterruptRunsAsUsual)
{
    InterruptReachabilityProbes();
    FakePing ping(0, 0);
    EXPECT_TRUE(is_available("127.0.0.2"));
}

} // namespace
} // namespace vxqir::test
