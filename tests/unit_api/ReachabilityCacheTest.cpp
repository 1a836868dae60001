#include "ReachabilityCache.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vxqir {
namespace {

// A cache with a hand-set clock and a probe that answers as told and records
// every address it was asked for.
class ReachabilityCacheTest : public ::testing::Test {
protected:
    ReachabilityCacheTest()
        : cache_([this] { return now_; },
                 [this](const char* ip) {
                     probes_.emplace_back(ip);
                     return reachable_;
                 })
    { }

    // Runs one check and returns what it printed.
    std::string check(const char* ip, bool expected)
    {
        ::testing::internal::CaptureStdout();
        EXPECT_EQ(cache_.checkAndInsertIP(ip), expected);
        return ::testing::internal::GetCapturedStdout();
    }

    int64_t now_ = 1000;
    bool reachable_ = true;
    std::vector<std::string> probes_;
    ReachabilityCache cache_;
};

TEST_F(ReachabilityCacheTest, ProbesAnUnknownAddressAndRemembersTheSuccess)
{
    EXPECT_EQ(check("127.0.0.2", true),
              "[Debug] IP 127.0.0.2 could not be found\n"
              "[Debug] IP 127.0.0.2 can be pinged -> SUCCESS\n");
    now_ += 5;
    EXPECT_EQ(check("127.0.0.2", true), "[Debug] IP 127.0.0.2, last ping: 5 ago -> SUCCESS\n");
    EXPECT_EQ(probes_.size(), 1u);
}

TEST_F(ReachabilityCacheTest, TrustsASuccessFor19SecondsAndProbesAgainAt20)
{
    check("127.0.0.2", true);
    now_ += 19;
    check("127.0.0.2", true);
    EXPECT_EQ(probes_.size(), 1u);

    now_ += 1; // 20 s after the probe; the hit at 19 s did not refresh it
    EXPECT_EQ(check("127.0.0.2", true),
              "[Debug] IP 127.0.0.2 too old.\n"
              "[Debug] IP 127.0.0.2 can be pinged -> SUCCESS\n");
    EXPECT_EQ(probes_.size(), 2u);
}

TEST_F(ReachabilityCacheTest, NeverCachesAFailedProbe)
{
    reachable_ = false;
    EXPECT_EQ(check("127.0.0.2", false),
              "[Debug] IP 127.0.0.2 could not be found\n"
              "[Debug] IP 127.0.0.2 can not be pinged -> FAIL\n");
    check("127.0.0.2", false);
    EXPECT_EQ(probes_.size(), 2u);
}

TEST_F(ReachabilityCacheTest, ErasesAStaleEntryEvenWhenTheNewProbeFails)
{
    check("127.0.0.2", true);
    now_ += 25;
    reachable_ = false;
    check("127.0.0.2", false);
    reachable_ = true;
    EXPECT_EQ(check("127.0.0.2", true),
              "[Debug] IP 127.0.0.2 could not be found\n"
              "[Debug] IP 127.0.0.2 can be pinged -> SUCCESS\n");
}

TEST_F(ReachabilityCacheTest, CountsAClockSetBackAsFresh)
{
    check("127.0.0.2", true);
    now_ -= 3600;
    EXPECT_EQ(check("127.0.0.2", true), "[Debug] IP 127.0.0.2, last ping: -3600 ago -> SUCCESS\n");
    EXPECT_EQ(probes_.size(), 1u);
}

TEST_F(ReachabilityCacheTest, KeysAddressesByTheirTextAsGiven)
{
    check("127.0.0.2", true);
    check("127.000.000.002", true);
    EXPECT_EQ(probes_.size(), 2u);
}

} // namespace
} // namespace vxqir
