// Rest with an event: a component sleeps until the time passes or the event
// is set, and is woken when it is stopped.
#include "TestComponent.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

int32_t waitForCore(std::future<int32_t>& core)
{
    if (core.wait_for(kWakeWatchdog) != std::future_status::ready) {
        ADD_FAILURE() << "the rest was not woken";
        std::abort();
    }
    return core.get();
}

} // namespace

TEST(RestOnEvent, ReturnsFalseWhenTheTimePassesWithoutTheEvent)
{
    auto c = KOVATestComponent::Make("c");
    ASSERT_EQ(c->EnginePrepareStart(), KOVA::NoError);
    bool set = true;
    const auto start = Clock::now();
    EXPECT_EQ(c->RunAsCore([&](KOVATestComponent& self) { set = self.Rest(20'000, self.event); }), KOVA::NoError);
    EXPECT_FALSE(set);
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(20));
}

TEST(RestOnEvent, ReturnsTrueWhenTheEventIsSetDuringALongRest)
{
    auto c = KOVATestComponent::Make("c");
    ASSERT_EQ(c->EnginePrepareStart(), KOVA::NoError);
    bool set = false;
    c->onCore = [&](KOVATestComponent& self) { set = self.Rest(KOVA::Infinite, self.event); };
    auto core = std::async(std::launch::async, [&] { return c->EngineCore(); });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    c->event.Set();
    EXPECT_EQ(waitForCore(core), KOVA::NoError);
    EXPECT_TRUE(set);
}

TEST(RestOnEvent, AnEventAlreadySetReturnsAtOnce)
{
    auto c = KOVATestComponent::Make("c");
    ASSERT_EQ(c->EnginePrepareStart(), KOVA::NoError);
    c->event.Set();
    bool set = false;
    EXPECT_EQ(c->RunAsCore([&](KOVATestComponent& self) { set = self.Rest(KOVA::Infinite, self.event); }),
              KOVA::NoError);
    EXPECT_TRUE(set);
}

TEST(RestOnEvent, StoppingTheComponentWakesTheRestAndUnwindsCore)
{
    auto c = KOVATestComponent::Make("c");
    ASSERT_EQ(c->EnginePrepareStart(), KOVA::NoError);
    bool returned = false;
    c->onCore = [&](KOVATestComponent& self) {
        self.Rest(KOVA::Infinite, self.event);
        returned = true;
    };
    auto core = std::async(std::launch::async, [&] { return c->EngineCore(); });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    c->EngineRequestStop();
    EXPECT_EQ(waitForCore(core), KOVA::ModuleDied);
    EXPECT_FALSE(returned);
    EXPECT_FALSE(c->EngineState() & KOVA::ErrorState) << "a stop is not a failure";
}

TEST(RestOnEvent, AComponentThreadRestingOnAnEventEndsWithTheComponent)
{
    auto c = KOVATestComponent::Make("c");
    ASSERT_EQ(c->EnginePrepareStart(), KOVA::NoError);
    std::atomic<bool> returned{ false };
    EXPECT_EQ(c->RunAsCore([&](KOVATestComponent& self) {
        self.StartComponentThread([&self, &returned] {
            self.Rest(KOVA::Infinite, self.event);
            returned = true;
        });
    }),
              KOVA::NoError);
    c->EngineRequestStop();
    EXPECT_TRUE(c->EngineJoinThreads(30'000'000));
    EXPECT_FALSE(returned);
}
