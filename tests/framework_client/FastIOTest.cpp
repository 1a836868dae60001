// The sample FIFO's bookkeeping: which element each reader kind gets, when a
// writer waits or overwrites, and its fatal errors.
#include "FifoFixture.h"
#include <ostream>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <thread>

using ::testing::HasSubstr;

namespace {

int32_t raisedCode(const std::function<void()>& call)
{
    try {
        call();
    } catch (const KOVAFifoFault& fault) {
        return fault.code;
    }
    return KOVA::NoError;
}

std::string raisedText(const std::function<void()>& call)
{
    try {
        call();
    } catch (const KOVAFifoFault& fault) {
        return fault.text;
    }
    return {};
}

void countOverflow(void* counter)
{
    ++*static_cast<int*>(counter);
}

} // namespace

TEST(FastIO, WriterWaitsWhileNeverSkippingReaderOwesTheOldestElement)
{
    FifoOfIntegers f(2);
    const int32_t reader = f.fifo.RegisterReader(KOVA::NeverSkippingReader);
    f.Publish(1);
    f.Publish(2);
    f.fifo.SetWriterTimeout(20'000);
    EXPECT_EQ(raisedCode([&] { f.fifo.StartWriting(nullptr, f.neverStop); }), KOVA::TimeOut);

    KOVAIOElt* oldest = f.fifo.TryStartReading(reader);
    ASSERT_EQ(FifoOfIntegers::Value(oldest), 1);
    // Held by the reader: still nothing for the writer.
    EXPECT_EQ(raisedCode([&] { f.fifo.StartWriting(nullptr, f.neverStop); }), KOVA::TimeOut);
}

TEST(FastIO, WaitingWriterTakesTheElementTheNeverSkippingReaderReleases)
{
    FifoOfIntegers f(2);
    const int32_t reader = f.fifo.RegisterReader(KOVA::NeverSkippingReader);
    f.Publish(1);
    f.Publish(2);
    KOVAIOElt* oldest = f.fifo.TryStartReading(reader);

    std::atomic<KOVAIOElt*> taken{ nullptr };
    std::thread writer([&] { taken = f.fifo.StartWriting(nullptr, f.neverStop); });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(taken.load(), nullptr) << "the writer must wait for the reader";
    f.fifo.StopReading(reader, oldest);
    writer.join();
    EXPECT_EQ(taken.load(), oldest);
}

TEST(FastIO, LaggingPlainReaderIsOverwrittenAndTheOverflowCallbackRuns)
{
    FifoOfIntegers f(2);
    int overflows = 0;
    f.fifo.SetOverflowCallback(&countOverflow, &overflows);
    const int32_t reader = f.fifo.RegisterReader(KOVA::FifoReader);
    f.Publish(1);
    f.Publish(2);
    f.Publish(3); // overwrites 1, which the reader never read
    EXPECT_EQ(overflows, 1);
    EXPECT_EQ(f.fifo.OverflowCount(), 1u);
    KOVAIOElt* element = f.fifo.TryStartReading(reader);
    EXPECT_EQ(FifoOfIntegers::Value(element), 2);
}

TEST(FastIO, LastOrNextReaderTakesTheNewestOfThreeNewElementsAndNeverTheOlderOnes)
{
    FifoOfIntegers f(4);
    const int32_t reader = f.fifo.RegisterReader(KOVA::LastOrNextReader);
    f.Publish(1);
    f.Publish(2);
    f.Publish(3);
    KOVAIOElt* element = f.fifo.TryStartReading(reader);
    EXPECT_EQ(FifoOfIntegers::Value(element), 3);
    f.fifo.StopReading(reader, element);
    EXPECT_EQ(f.fifo.TryStartReading(reader), nullptr);
    EXPECT_EQ(f.fifo.DataAvailableInFIFO(reader), 0);
    f.Publish(4);
    EXPECT_EQ(FifoOfIntegers::Value(f.fifo.TryStartReading(reader)), 4);
}

TEST(FastIO, SamplingReaderRereadsTheNewestElementUntilANewerOneIsPublished)
{
    FifoOfIntegers f(4);
    const int32_t reader = f.fifo.RegisterReader(KOVA::SamplingReader);
    EXPECT_EQ(f.fifo.TryStartReading(reader), nullptr);
    f.Publish(7);
    for (int i = 0; i < 3; ++i) {
        KOVAIOElt* element = f.fifo.TryStartReading(reader);
        ASSERT_NE(element, nullptr);
        EXPECT_EQ(FifoOfIntegers::Value(element), 7);
        f.fifo.StopReading(reader, element);
    }
    f.Publish(8);
    EXPECT_EQ(FifoOfIntegers::Value(f.fifo.TryStartReading(reader)), 8);
}

TEST(FastIO, DiscardedElementStaysUnpublishedAndIsTheNextOneWritten)
{
    FifoOfIntegers f(3);
    const int32_t reader = f.fifo.RegisterReader(KOVA::NeverSkippingReader);
    KOVAIOElt* element = f.fifo.StartWriting(nullptr, f.neverStop);
    f.fifo.StopWriting(element, true);
    EXPECT_EQ(f.fifo.DataAvailableInFIFO(reader), 0);
    EXPECT_EQ(f.fifo.PublishedCount(), 0u);
    EXPECT_EQ(f.fifo.StartWriting(nullptr, f.neverStop), element);
}

TEST(FastIO, NeverSkippingReaderGetsEveryElementInOrder)
{
    FifoOfIntegers f(4);
    const int32_t reader = f.fifo.RegisterReader(KOVA::NeverSkippingReader);
    for (int64_t round = 0; round < 5; ++round) {
        for (int64_t i = 0; i < 3; ++i)
            f.Publish(round * 3 + i);
        for (int64_t i = 0; i < 3; ++i) {
            KOVAIOElt* element = f.fifo.TryStartReading(reader);
            ASSERT_NE(element, nullptr);
            EXPECT_EQ(FifoOfIntegers::Value(element), round * 3 + i);
            f.fifo.StopReading(reader, element);
        }
        EXPECT_EQ(f.fifo.TryStartReading(reader), nullptr);
    }
}

TEST(FastIO, SubsamplingRateTwoTakesEverySecondElement)
{
    FifoOfIntegers f(8);
    const int32_t reader = f.fifo.RegisterReader(KOVA::NeverSkippingReader, 2);
    for (int64_t i = 0; i < 6; ++i)
        f.Publish(i);
    std::vector<int64_t> seen;
    while (KOVAIOElt* element = f.fifo.TryStartReading(reader)) {
        seen.push_back(FifoOfIntegers::Value(element));
        f.fifo.StopReading(reader, element);
    }
    EXPECT_EQ(seen, (std::vector<int64_t>{ 0, 2, 4 }));
}

TEST(FastIO, Wait4NextReaderWaitsForThePublicationAfterItsCall)
{
    FifoOfIntegers f(4);
    const int32_t reader = f.fifo.RegisterReader(KOVA::Wait4NextReader);
    f.Publish(1);
    EXPECT_EQ(f.fifo.TryStartReading(reader), nullptr);
    EXPECT_EQ(f.fifo.DataAvailableInFIFO(reader), 1);
    std::atomic<int64_t> got{ -1 };
    std::thread readerThread([&] { got = FifoOfIntegers::Value(f.fifo.StartReading(reader, f.neverStop)); });
    // Publish until the reader has one (it may start waiting after the first).
    for (int64_t value = 2; got.load() < 0 && value < 1000; ++value) {
        f.Publish(value);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    readerThread.join();
    EXPECT_GE(got.load(), 2);
}

TEST(FastIO, TwoWritersPublishAnElementOnlyWhenBothFinishedIt)
{
    FifoOfIntegers f(3);
    f.fifo.SetWriterCount(2);
    const int32_t reader = f.fifo.RegisterReader(KOVA::NeverSkippingReader);
    KOVAIOElt* element = f.fifo.StartWriting(nullptr, f.neverStop);
    f.fifo.StopWriting(element, false);
    EXPECT_EQ(f.fifo.DataAvailableInFIFO(reader), 0);
    EXPECT_EQ(f.fifo.StartWriting(nullptr, f.neverStop), element);
    f.fifo.StopWriting(element, false);
    EXPECT_EQ(f.fifo.DataAvailableInFIFO(reader), 1);
}

TEST(FastIO, StartWritingWithEveryElementHeldIsAFatalError)
{
    FifoOfIntegers f(1);
    f.fifo.StartWriting(nullptr, f.neverStop);
    int overflows = 0;
    f.fifo.SetOverflowCallback(&countOverflow, &overflows);
    const std::string text = raisedText([&] { f.fifo.StartWriting(nullptr, f.neverStop); });
    EXPECT_EQ(text,
              "Output buffer fatal error : StartWriting has no space where to write. Check that each call to "
              "StartWriting has its corresponding call to StopWriting.");
    EXPECT_EQ(raisedCode([&] { f.fifo.StartWriting(nullptr, f.neverStop); }), KOVA::ErrorException);
    EXPECT_EQ(overflows, 2);
}

TEST(FastIO, StopReadingWithoutStartingIsAFatalError)
{
    FifoOfIntegers f(2);
    const int32_t reader = f.fifo.RegisterReader(KOVA::FifoReader);
    KOVAIOElt* element = f.Publish(1);
    EXPECT_THAT(raisedText([&] { f.fifo.StopReading(reader, element); }),
                HasSubstr("KOVAFastIO fatal error : Stop reading without starting (X1)"));
}

TEST(FastIO, StopWritingAnElementNotBeingWrittenIsAFatalError)
{
    FifoOfIntegers f(2);
    KOVAIOElt* element = f.Publish(1);
    EXPECT_EQ(raisedCode([&] { f.fifo.StopWriting(element, false); }), KOVA::ErrorException);
}

struct ReaderSettingCase {
    const char* name;
    std::function<void(KOVAFastIO&)> call;
    const char* text;
};

/// Test names are enough to identify a case in messages.
[[maybe_unused]] static void PrintTo(const ReaderSettingCase& c, std::ostream* os)
{
    *os << c.name;
}

class FastIOReaderSettings : public ::testing::TestWithParam<ReaderSettingCase> { };

TEST_P(FastIOReaderSettings, RefusesWithItsFatalErrorText)
{
    FifoOfIntegers f(2);
    EXPECT_EQ(raisedText([&] { GetParam().call(f.fifo); }), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FastIOReaderSettings,
    ::testing::Values(
        ReaderSettingCase{ "TypeOfUnregisteredReader", [](KOVAFastIO& f) { f.SetReaderType(3, KOVA::FifoReader); },
                           "KOVAFastIO fatal error : trying to set the reader type for a reader that has never been "
                           "registered before." },
        ReaderSettingCase{ "TypeOfSamplingReader",
                           [](KOVAFastIO& f) { f.SetReaderType(f.RegisterReader(KOVA::SamplingReader), 1); },
                           "KOVAFastIO fatal error : SetReaderType works only with FIFO readers." },
        ReaderSettingCase{ "RateOfUnregisteredReader", [](KOVAFastIO& f) { f.SetSubsamplingRate(5, 2); },
                           "KOVAFastIO fatal error : trying to set the subsampling rate for a reader that has never "
                           "been registered before." },
        ReaderSettingCase{ "RateOfSamplingReader",
                           [](KOVAFastIO& f) { f.SetSubsamplingRate(f.RegisterReader(KOVA::Wait4NextReader), 2); },
                           "KOVAFastIO fatal error : SetSubsamplingRate works only with FIFO readers." },
        ReaderSettingCase{ "RateZero", [](KOVAFastIO& f) { f.SetSubsamplingRate(f.RegisterReader(0), 0); },
                           "KOVAFastIO fatal error: Output subsampling rate must be an integer in the range between 1 "
                           "and 256 included." },
        ReaderSettingCase{ "Rate257", [](KOVAFastIO& f) { f.SetSubsamplingRate(f.RegisterReader(0), 257); },
                           "KOVAFastIO fatal error: Output subsampling rate must be an integer in the range between 1 "
                           "and 256 included." },
        ReaderSettingCase{ "ReadingByUnregisteredReader", [](KOVAFastIO& f) { f.TryStartReading(9); },
                           "KOVAFastIO fatal error : KOVAFastIO monitor has no space where to read (X512). Please "
                           "contact the technical support team." }),
    [](const auto& testCase) { return std::string(testCase.param.name); });

TEST(FastIO, SetReaderTypeTurnsAPlainReaderIntoANeverSkippingOne)
{
    FifoOfIntegers f(2);
    const int32_t reader = f.fifo.RegisterReader(KOVA::FifoReader);
    f.fifo.SetReaderType(reader, KOVA::NeverSkippingReader);
    f.Publish(1);
    f.Publish(2);
    f.fifo.SetWriterTimeout(10'000);
    EXPECT_EQ(raisedCode([&] { f.fifo.StartWriting(nullptr, f.neverStop); }), KOVA::TimeOut);
}

TEST(FastIO, AtMostThirtyTwoReadersCanRegister)
{
    FifoOfIntegers f(2);
    for (int i = 0; i < 32; ++i)
        EXPECT_EQ(f.fifo.RegisterReader(KOVA::FifoReader), i);
    EXPECT_EQ(raisedCode([&] { f.fifo.RegisterReader(KOVA::FifoReader); }), KOVA::ErrorException);
}

TEST(FastIO, UnregisteringALaggingNeverSkippingReaderLetsTheWriterOn)
{
    FifoOfIntegers f(2);
    const int32_t reader = f.fifo.RegisterReader(KOVA::NeverSkippingReader);
    f.Publish(1);
    f.Publish(2);
    f.fifo.UnregisterReader(reader);
    f.fifo.SetWriterTimeout(10'000);
    EXPECT_NE(f.fifo.StartWriting(nullptr, f.neverStop), nullptr);
}

TEST(FastIO, DataAvailableFollowsWhatEachKindOfReaderWouldGet)
{
    FifoOfIntegers f(4);
    const int32_t plain = f.fifo.RegisterReader(KOVA::FifoReader);
    const int32_t sampling = f.fifo.RegisterReader(KOVA::SamplingReader);
    EXPECT_EQ(f.fifo.DataAvailableInFIFO(plain), 0);
    EXPECT_EQ(f.fifo.DataAvailableInFIFO(sampling), 0);
    f.Publish(1);
    EXPECT_EQ(f.fifo.DataAvailableInFIFO(plain), 1);
    EXPECT_EQ(f.fifo.DataAvailableInFIFO(sampling), 1);
    f.fifo.StopReading(plain, f.fifo.TryStartReading(plain));
    EXPECT_EQ(f.fifo.DataAvailableInFIFO(plain), 0);
    EXPECT_EQ(f.fifo.DataAvailableInFIFO(sampling), 1);
}

TEST(FastIO, ReleaseWritersMakesAWaitingStartWritingReturnNull)
{
    FifoOfIntegers f(1);
    f.fifo.RegisterReader(KOVA::NeverSkippingReader);
    f.Publish(1);
    std::atomic<bool> returned{ false };
    KOVAIOElt* result = reinterpret_cast<KOVAIOElt*>(1);
    std::thread writer([&] {
        result = f.fifo.StartWriting(nullptr, f.neverStop);
        returned = true;
    });
    // Release until the writer returns (the release resets when it starts waiting).
    for (int i = 0; i < 2000 && !returned.load(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        f.fifo.ReleaseWriters();
    }
    writer.join();
    EXPECT_EQ(result, nullptr);
}
