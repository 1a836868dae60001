// The sample FIFO with writers and readers on their own threads: nothing
// lost or doubled where the reader kind promises it, waits woken at stop.
// Samples carry serial numbers; a watchdog ends a hang.
#include "FifoFixture.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <future>
#include <limits>
#include <thread>

namespace {

constexpr int64_t kSamples = 20000;
constexpr auto kFifoWatchdog = std::chrono::seconds(60);

int32_t raisedCode(const std::function<void()>& call)
{
    try {
        call();
    } catch (const KOVAFifoFault& fault) {
        return fault.code;
    }
    return KOVA::NoError;
}

/// Runs `body`; when it does not end within the watchdog time, `onHang`
/// tries to unblock it, and the program ends if even that does not help.
void withWatchdog(const std::function<void()>& body, const std::function<void()>& onHang)
{
    auto done = std::async(std::launch::async, body);
    if (done.wait_for(kFifoWatchdog) != std::future_status::ready) {
        ADD_FAILURE() << "hang: the exchange did not finish in time";
        onHang();
        if (done.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
            std::fprintf(stderr, "watchdog: still hanging, giving up\n");
            std::abort();
        }
    }
    done.get();
}

} // namespace

TEST(FastIOConcurrency, StopWakesAReaderWaitingForAnElement)
{
    FifoOfIntegers f(2);
    const int32_t reader = f.fifo.RegisterReader(KOVA::NeverSkippingReader);
    TestStopToken stop;
    auto waiting =
        std::async(std::launch::async, [&] { return raisedCode([&] { f.fifo.StartReading(reader, stop); }); });
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    stop.stop = true;
    f.fifo.WakeReaders();
    ASSERT_EQ(waiting.wait_for(kFifoWatchdog), std::future_status::ready);
    EXPECT_EQ(waiting.get(), KOVA::ModuleDied);
}

TEST(FastIOConcurrency, StopWakesAWriterWaitingForANeverSkippingReader)
{
    FifoOfIntegers f(1);
    f.fifo.RegisterReader(KOVA::NeverSkippingReader);
    f.Publish(1);
    TestStopToken stop;
    auto waiting =
        std::async(std::launch::async, [&] { return raisedCode([&] { f.fifo.StartWriting(nullptr, stop); }); });
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    stop.stop = true;
    f.fifo.WakeWriters();
    ASSERT_EQ(waiting.wait_for(kFifoWatchdog), std::future_status::ready);
    EXPECT_EQ(waiting.get(), KOVA::ModuleDied);
}

struct LongTimeoutCase {
    const char* name;
    KOVATimestamp timeoutUs;
};

void PrintTo(const LongTimeoutCase& testCase, std::ostream* out)
{
    *out << testCase.name;
}

class FastIOLongWriterTimeout : public ::testing::TestWithParam<LongTimeoutCase> { };

// A time-out far in the future must mean "wait", never an overflowed
// deadline that has already passed.
TEST_P(FastIOLongWriterTimeout, KeepsTheWriterWaitingUntilItIsStopped)
{
    FifoOfIntegers f(1);
    f.fifo.RegisterReader(KOVA::NeverSkippingReader);
    f.Publish(1);
    f.fifo.SetWriterTimeout(GetParam().timeoutUs);
    TestStopToken stop;
    auto waiting =
        std::async(std::launch::async, [&] { return raisedCode([&] { f.fifo.StartWriting(nullptr, stop); }); });
    EXPECT_EQ(waiting.wait_for(std::chrono::milliseconds(100)), std::future_status::timeout)
        << "the writer gave up at once";
    stop.stop = true;
    f.fifo.WakeWriters();
    ASSERT_EQ(waiting.wait_for(kFifoWatchdog), std::future_status::ready);
    EXPECT_EQ(waiting.get(), KOVA::ModuleDied);
}

INSTANTIATE_TEST_SUITE_P(
    , FastIOLongWriterTimeout,
    ::testing::Values(LongTimeoutCase{ "OneHundredTwentyDays", int64_t{ 120 } * 86'400 * 1'000'000 },
                      LongTimeoutCase{ "ThreeHundredYears", int64_t{ 300 } * 365 * 86'400 * 1'000'000 },
                      LongTimeoutCase{ "LargestTimestamp", std::numeric_limits<KOVATimestamp>::max() }),
    [](const auto& testCase) { return std::string(testCase.param.name); });

TEST(FastIOConcurrency, OneWriterHandsEverySampleInOrderToANeverSkippingReader)
{
    FifoOfIntegers f(16);
    const int32_t reader = f.fifo.RegisterReader(KOVA::NeverSkippingReader);
    TestStopToken stop;
    std::vector<int64_t> received;
    withWatchdog(
        [&] {
            std::thread writer([&] {
                for (int64_t i = 0; i < kSamples && !stop.stop; ++i) {
                    try {
                        KOVAIOElt* e = f.fifo.StartWriting(nullptr, stop);
                        *e->Integer64() = i;
                        f.fifo.StopWriting(e, false);
                    } catch (const KOVAFifoFault&) {
                        return;
                    }
                }
            });
            try {
                while (static_cast<int64_t>(received.size()) < kSamples) {
                    KOVAIOElt* e = f.fifo.StartReading(reader, stop);
                    received.push_back(*e->Integer64());
                    f.fifo.StopReading(reader, e);
                }
            } catch (const KOVAFifoFault&) { }
            writer.join();
        },
        [&] {
            stop.stop = true;
            f.fifo.WakeReaders();
            f.fifo.WakeWriters();
        });
    ASSERT_EQ(static_cast<int64_t>(received.size()), kSamples);
    for (int64_t i = 0; i < kSamples; ++i)
        ASSERT_EQ(received[static_cast<size_t>(i)], i) << "lost or doubled sample at " << i;
    EXPECT_EQ(f.fifo.OverflowCount(), 0u);
}

TEST(FastIOConcurrency, ThreeReaderKindsEachGetWhatTheirKindPromises)
{
    FifoOfIntegers f(16);
    const int32_t neverSkipping = f.fifo.RegisterReader(KOVA::NeverSkippingReader);
    const int32_t plain = f.fifo.RegisterReader(KOVA::FifoReader);
    const int32_t sampling = f.fifo.RegisterReader(KOVA::SamplingReader);
    TestStopToken stop;
    std::vector<int64_t> all;
    std::vector<int64_t> some;
    std::vector<int64_t> sampled;

    auto readInto = [&](int32_t reader, std::vector<int64_t>& into, bool untilLast) {
        try {
            // A sampling reader never waits once something was published, so
            // the loop looks at the stop token itself.
            while (!stop.stop) {
                KOVAIOElt* e = f.fifo.StartReading(reader, stop);
                const int64_t value = *e->Integer64();
                into.push_back(value);
                f.fifo.StopReading(reader, e);
                if (untilLast && value == kSamples - 1)
                    return;
                if (!untilLast)
                    std::this_thread::yield();
            }
        } catch (const KOVAFifoFault& fault) {
            EXPECT_EQ(fault.code, KOVA::ModuleDied);
        }
    };
    withWatchdog(
        [&] {
            std::thread neverSkippingThread(readInto, neverSkipping, std::ref(all), true);
            std::thread plainThread(readInto, plain, std::ref(some), false);
            std::thread samplingThread(readInto, sampling, std::ref(sampled), false);
            for (int64_t i = 0; i < kSamples; ++i) {
                KOVAIOElt* e = f.fifo.StartWriting(nullptr, stop);
                *e->Integer64() = i;
                f.fifo.StopWriting(e, false);
            }
            neverSkippingThread.join();
            stop.stop = true;
            f.fifo.WakeReaders();
            plainThread.join();
            samplingThread.join();
        },
        [&] {
            stop.stop = true;
            f.fifo.WakeReaders();
            f.fifo.WakeWriters();
        });
    ASSERT_EQ(static_cast<int64_t>(all.size()), kSamples);
    for (int64_t i = 0; i < kSamples; ++i)
        ASSERT_EQ(all[static_cast<size_t>(i)], i);
    // The plain reader may lose samples but never gets one twice or out of order.
    for (size_t i = 1; i < some.size(); ++i)
        ASSERT_LT(some[i - 1], some[i]);
    // The sampling reader sees the newest value again and again, never an older one.
    for (size_t i = 1; i < sampled.size(); ++i)
        ASSERT_LE(sampled[i - 1], sampled[i]);
    EXPECT_FALSE(some.empty());
    EXPECT_FALSE(sampled.empty());
}

TEST(FastIOConcurrency, ConcurrentWritersLoseNothingForANeverSkippingReader)
{
    constexpr int kWriters = 3;
    constexpr int64_t kEach = 5000;
    FifoOfIntegers f(8);
    const int32_t reader = f.fifo.RegisterReader(KOVA::NeverSkippingReader);
    TestStopToken stop;
    std::vector<int64_t> last(kWriters, -1);
    int64_t received = 0;
    withWatchdog(
        [&] {
            std::vector<std::thread> writers;
            for (int w = 0; w < kWriters; ++w) {
                writers.emplace_back([&, w] {
                    try {
                        for (int64_t i = 0; i < kEach; ++i) {
                            KOVAIOElt* e = f.fifo.StartWriting(nullptr, stop);
                            *e->Integer64() = w * 1'000'000 + i;
                            f.fifo.StopWriting(e, false);
                        }
                    } catch (const KOVAFifoFault&) { }
                });
            }
            try {
                while (received < kWriters * kEach) {
                    KOVAIOElt* e = f.fifo.StartReading(reader, stop);
                    const int64_t value = *e->Integer64();
                    f.fifo.StopReading(reader, e);
                    const auto writer = static_cast<size_t>(value / 1'000'000);
                    ASSERT_LT(writer, last.size());
                    // Each writer's own samples arrive in its order, each once.
                    ASSERT_EQ(value % 1'000'000, last[writer] + 1);
                    last[writer] = value % 1'000'000;
                    ++received;
                }
            } catch (const KOVAFifoFault&) { }
            stop.stop = true;
            f.fifo.WakeWriters();
            for (auto& writer : writers)
                writer.join();
        },
        [&] {
            stop.stop = true;
            f.fifo.WakeReaders();
            f.fifo.WakeWriters();
        });
    EXPECT_EQ(received, kWriters * kEach);
}

TEST(FastIOConcurrency, AReaderUnregisteredWhileItWaitsCannotFindItsData)
{
    FifoOfIntegers f(2);
    const int32_t reader = f.fifo.RegisterReader(KOVA::NeverSkippingReader);
    TestStopToken stop;
    auto waiting = std::async(std::launch::async, [&] {
        try {
            f.fifo.StartReading(reader, stop);
        } catch (const KOVAFifoFault& fault) {
            return fault.text;
        }
        return std::string();
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    f.fifo.UnregisterReader(reader);
    ASSERT_EQ(waiting.wait_for(kFifoWatchdog), std::future_status::ready);
    const std::string text = waiting.get();
    // On a slow machine the reader may only arrive after it was unregistered.
    if (text.find("monitor has no space") == std::string::npos) {
        EXPECT_EQ(text,
                  "KOVAFastIO fatal error : Trouble with a FIFO reader. Couldn't find its data (X1). Please "
                  "contact the technical support team.");
    }
}
