// The progress line of qir-records, on an injected clock.

#include "Progress.h"

#include <gtest/gtest.h>

namespace qir::records {
namespace {

using namespace std::chrono_literals;

struct FakeClock {
    std::chrono::steady_clock::time_point now{};
    Progress::Clock function()
    {
        return [this] { return now; };
    }
};

TEST(Progress, RedrawsAtMostEveryHalfSecond)
{
    FakeClock clock;
    Progress progress("file", 1000, true, clock.function());
    for (int i = 0; i < 10'000; ++i)
        progress.update(1, 1);
    EXPECT_EQ(progress.redraws(), 0u) << "no time has passed";
    clock.now += 600ms;
    for (int i = 0; i < 10'000; ++i)
        progress.update(500, 2);
    EXPECT_EQ(progress.redraws(), 1u);
    clock.now += 100ms;
    for (int i = 0; i < 10'000; ++i)
        progress.update(600, 3);
    EXPECT_EQ(progress.redraws(), 1u);
}

TEST(Progress, DisabledNeverDraws)
{
    FakeClock clock;
    Progress progress("file", 1000, false, clock.function());
    clock.now += 10s;
    for (int i = 0; i < 10'000; ++i)
        progress.update(1, 1);
    EXPECT_EQ(progress.redraws(), 0u);
}

} // namespace
} // namespace qir::records
