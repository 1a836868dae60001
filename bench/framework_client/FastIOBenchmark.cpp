// Hand-over rate of the sample FIFO: one writer and one never-skipping
// reader on two threads, and one writer with three readers of different
// kinds (never-skipping, plain FIFO and last-or-next; the sampling kinds do
// not consume, so they set no pace). Reports samples per second
// (items_per_second: samples the never-skipping reader got).
#include "fifo/KOVAFastIO.h"
#include "io/KOVAIOEltBuffer.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

namespace {

constexpr int64_t kBatch = 200'000;

class NeverStop final : public KOVAStopToken {
public:
    bool StopRequested() const noexcept override { return stop.load(std::memory_order_relaxed); }
    std::atomic<bool> stop{ false };
};

struct Ring {
    explicit Ring(int size) : values(static_cast<size_t>(size))
    {
        std::vector<KOVAIOElt*> ring;
        for (auto& value : values) {
            elements.push_back(std::make_unique<KOVAIOEltBuffer>(KOVATypeInfo{ KOVA::Integer64, nullptr, nullptr },
                                                                 reinterpret_cast<uint8_t*>(&value), 1, 8, this));
            ring.push_back(elements.back().get());
        }
        fifo.SetElements(ring);
    }
    std::vector<int64_t> values;
    std::vector<std::unique_ptr<KOVAIOEltBuffer>> elements;
    KOVAFastIO fifo;
};

void writeBatch(KOVAFastIO& fifo, const KOVAStopToken& stop)
{
    try {
        for (int64_t i = 0; i < kBatch; ++i) {
            KOVAIOElt* e = fifo.StartWriting(nullptr, stop);
            *e->Integer64() = i;
            fifo.StopWriting(e, false);
        }
    } catch (const KOVAFifoFault&) { }
}

void BM_OneWriterOneNeverSkippingReader(benchmark::State& state)
{
    Ring ring(static_cast<int>(state.range(0)));
    const int32_t reader = ring.fifo.RegisterReader(KOVA::NeverSkippingReader);
    NeverStop stop;
    for (auto _ : state) {
        std::thread writer(writeBatch, std::ref(ring.fifo), std::cref(stop));
        int64_t sum = 0;
        for (int64_t i = 0; i < kBatch; ++i) {
            KOVAIOElt* e = ring.fifo.StartReading(reader, stop);
            sum += *e->Integer64();
            ring.fifo.StopReading(reader, e);
        }
        writer.join();
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * kBatch);
}
BENCHMARK(BM_OneWriterOneNeverSkippingReader)->Arg(4)->Arg(16)->Arg(64)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_OneWriterThreeReaderKinds(benchmark::State& state)
{
    Ring ring(16);
    const int32_t neverSkipping = ring.fifo.RegisterReader(KOVA::NeverSkippingReader);
    const int32_t plain = ring.fifo.RegisterReader(KOVA::FifoReader);
    const int32_t lastOrNext = ring.fifo.RegisterReader(KOVA::LastOrNextReader);
    int64_t plainSamples = 0;
    int64_t lastOrNextSamples = 0;
    for (auto _ : state) {
        NeverStop stop;
        std::atomic<int64_t> plainCount{ 0 };
        std::atomic<int64_t> lastOrNextCount{ 0 };
        auto side = [&](int32_t reader, std::atomic<int64_t>& count) {
            try {
                while (!stop.StopRequested()) {
                    KOVAIOElt* e = ring.fifo.StartReading(reader, stop);
                    benchmark::DoNotOptimize(*e->Integer64());
                    ring.fifo.StopReading(reader, e);
                    count.fetch_add(1, std::memory_order_relaxed);
                }
            } catch (const KOVAFifoFault&) { }
        };
        std::thread plainThread(side, plain, std::ref(plainCount));
        std::thread lastOrNextThread(side, lastOrNext, std::ref(lastOrNextCount));
        std::thread writer(writeBatch, std::ref(ring.fifo), std::cref(stop));
        for (int64_t i = 0; i < kBatch; ++i) {
            KOVAIOElt* e = ring.fifo.StartReading(neverSkipping, stop);
            benchmark::DoNotOptimize(*e->Integer64());
            ring.fifo.StopReading(neverSkipping, e);
        }
        writer.join();
        stop.stop = true;
        ring.fifo.WakeReaders();
        plainThread.join();
        lastOrNextThread.join();
        plainSamples += plainCount.load();
        lastOrNextSamples += lastOrNextCount.load();
    }
    state.SetItemsProcessed(state.iterations() * kBatch);
    state.counters["plain_reads_per_batch"] =
        static_cast<double>(plainSamples) / static_cast<double>(state.iterations());
    state.counters["last_or_next_reads_per_batch"] =
        static_cast<double>(lastOrNextSamples) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_OneWriterThreeReaderKinds)->UseRealTime()->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
