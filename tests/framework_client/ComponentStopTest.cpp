// Stopping a component wakes each of its blocking calls, which then unwind
// the lifecycle call with ModuleDied; component threads end with it.
#include "TestComponent.h"

#include <gtest/gtest.h>

#include <future>
#include <thread>

namespace {


/// Runs `hook` as Core on a thread, stops the component after a moment and
/// returns what Core gave.
int32_t coreCodeAfterStop(KOVATestComponent& component, std::function<void(KOVATestComponent&)> hook)
{
    component.onCore = std::move(hook);
    auto core = std::async(std::launch::async, [&] { return component.EngineCore(); });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    component.EngineRequestStop();
    if (core.wait_for(kWakeWatchdog) != std::future_status::ready) {
        ADD_FAILURE() << "the blocking call was not woken";
        std::abort();
    }
    return core.get();
}

} // namespace

TEST(ComponentStop, WakesABlockingStartReading)
{
    auto writer = KOVATestComponent::Make("writer");
    auto reader = KOVATestComponent::Make("reader");
    KOVA::StringReceiver why;
    ASSERT_EQ(reader->FindInput("In")->Connect(*writer->FindOutput("Out"), why), KOVA::NoError);
    ASSERT_EQ(writer->EnginePrepareStart(), KOVA::NoError);
    ASSERT_EQ(reader->EnginePrepareStart(), KOVA::NoError);
    bool returned = false;
    EXPECT_EQ(coreCodeAfterStop(*reader,
                                [&](KOVATestComponent& self) {
                                    self.StartReading(self.Input("In"));
                                    returned = true;
                                }),
              KOVA::ModuleDied);
    EXPECT_FALSE(returned);
    EXPECT_FALSE(reader->EngineState() & KOVA::ErrorState) << "a stop is not a failure";
}

TEST(ComponentStop, WakesARestWithoutLimit)
{
    auto c = KOVATestComponent::Make("c");
    ASSERT_EQ(c->EnginePrepareStart(), KOVA::NoError);
    EXPECT_EQ(coreCodeAfterStop(*c, [](KOVATestComponent& self) { self.Rest(KOVA::Infinite); }), KOVA::ModuleDied);
}

TEST(ComponentStop, WakesAnEventWait)
{
    auto c = KOVATestComponent::Make("c");
    ASSERT_EQ(c->EnginePrepareStart(), KOVA::NoError);
    EXPECT_EQ(coreCodeAfterStop(*c, [](KOVATestComponent& self) { self.event.Wait(KOVA::Infinite); }),
              KOVA::ModuleDied);
}

TEST(ComponentStop, WakesAWriterWaitingForANeverSkippingReader)
{
    auto writer = KOVATestComponent::Make("writer");
    auto reader = KOVATestComponent::Make("reader");
    KOVA::StringReceiver why;
    ASSERT_EQ(reader->FindInput("In")->Connect(*writer->FindOutput("Out"), why), KOVA::NoError);
    ASSERT_EQ(writer->EnginePrepareStart(), KOVA::NoError);
    EXPECT_EQ(coreCodeAfterStop(*writer,
                                [](KOVATestComponent& self) {
                                    for (;;) {
                                        KOVA::OutputGuard<int64_t> guard(&self, self.Output("Out"));
                                        *guard.Get() = 1;
                                    }
                                }),
              KOVA::ModuleDied);
}

TEST(ComponentStop, AnEventSetBeforeTheWaitReturnsAtOnce)
{
    auto c = KOVATestComponent::Make("c");
    ASSERT_EQ(c->EnginePrepareStart(), KOVA::NoError);
    c->event.Set();
    bool set = false;
    EXPECT_EQ(c->RunAsCore([&](KOVATestComponent& self) { set = self.event.Wait(KOVA::Infinite); }), KOVA::NoError);
    EXPECT_TRUE(set);
    c->event.Reset();
    EXPECT_EQ(c->RunAsCore([&](KOVATestComponent& self) { set = self.event.Wait(1000); }), KOVA::NoError);
    EXPECT_FALSE(set);
}

TEST(ComponentStop, ComponentThreadsRunTheirMemberAndEndWithTheComponent)
{
    auto c = KOVATestComponent::Make("c");
    ASSERT_EQ(c->EnginePrepareStart(), KOVA::NoError);
    EXPECT_EQ(c->RunAsCore([](KOVATestComponent& self) {
        self.CreateThread(&KOVATestComponent::ThreadMember);
        self.CreateThread(&KOVATestComponent::ThreadMember);
    }),
              KOVA::NoError);
    EXPECT_FALSE(c->EngineJoinThreads(10'000)) << "the threads rest until the component stops";
    c->EngineRequestStop();
    EXPECT_TRUE(c->EngineJoinThreads(30'000'000));
    EXPECT_EQ(c->threadRuns, 2);
    EXPECT_FALSE(c->EngineState() & KOVA::ErrorState);
}
