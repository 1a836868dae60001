// What the emulated unit spends verifying a 1920 x 1080 RGB frame
// (6 220 800 bytes): the byte-serial FNV-1a checksum that a unit reports
// against the XXH3 digest that frames are now matched by, alone and through
// the checksum thread (ChecksumWorker: digest only, as qir-replay's embedded
// unit runs, against a checksum observer, which makes it hash every frame
// with FNV-1a as it did before). Both sides of each pair run in the same
// program; the last lines give their ratios.

#include "ChecksumWorker.h"
#include "CompletedFrame.h"
#include "Fnv1a64.h"
#include "FrameDigest.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <numeric>
#include <string>
#include <vector>

using namespace vxqir;
using namespace vxqir::sim;

namespace {

constexpr uint16_t WIDTH_BYTES = 5760;
constexpr uint16_t LINES = 1080;

const std::vector<uint8_t>& frameBytes()
{
    static const std::vector<uint8_t> bytes = [] {
        std::vector<uint8_t> b(size_t{ WIDTH_BYTES } * LINES);
        uint32_t x = 12345;
        for (uint8_t& v : b) {
            x = x * 1103515245u + 12345u;
            v = static_cast<uint8_t>(x >> 16);
        }
        return b;
    }();
    return bytes;
}

void BM_Fnv1a64(benchmark::State& state)
{
    for (auto _ : state) {
        Fnv1a64 h;
        h.update(frameBytes());
        benchmark::DoNotOptimize(h.value());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(frameBytes().size()));
}

void BM_FrameDigest(benchmark::State& state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(FrameDigest::of(frameBytes()));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(frameBytes().size()));
}

/// Frames through the checksum thread, every one verified (as the embedded
/// unit of qir-replay runs it). Copying the frame in is outside the timing.
void workerFrames(benchmark::State& state, bool checksumEveryFrame)
{
    ChecksumWorker worker(4, true);
    if (checksumEveryFrame)
        worker.addObserver([](const CompletedFrame&, uint64_t checksum) { benchmark::DoNotOptimize(checksum); });
    worker.start();
    uint16_t number = 0;
    std::vector<CompletedFrame> batch(1);
    for (auto _ : state) {
        state.PauseTiming();
        batch.resize(1);
        batch[0] = CompletedFrame{};
        batch[0].frameNumber = number++;
        batch[0].width = WIDTH_BYTES;
        batch[0].height = LINES;
        batch[0].bytes = frameBytes();
        state.ResumeTiming();
        worker.submit(batch);
        worker.drain();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(frameBytes().size()));
    // The checksum a unit reports, read once at the end (computed here).
    benchmark::DoNotOptimize(worker.result(0).lastChecksum);
}

void BM_WorkerChecksumEveryFrame(benchmark::State& state)
{
    workerFrames(state, true);
}

void BM_WorkerDigestEveryFrame(benchmark::State& state)
{
    workerFrames(state, false);
}

/// Keeps each benchmark's real time per frame for the ratios.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs)
            if (run.iterations > 0 && !run.error_occurred)
                nsPerFrame[run.run_name.function_name] = run.GetAdjustedRealTime();
    }
    std::map<std::string, double> nsPerFrame;
};

} // namespace

BENCHMARK(BM_Fnv1a64)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_FrameDigest)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_WorkerChecksumEveryFrame)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_WorkerDigestEveryFrame)->Unit(benchmark::kMillisecond)->UseRealTime();

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 2;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    const auto ratio = [&](const char* baseline, const char* candidate) {
        const auto b = reporter.nsPerFrame.find(baseline);
        const auto c = reporter.nsPerFrame.find(candidate);
        if (b == reporter.nsPerFrame.end() || c == reporter.nsPerFrame.end())
            return;
        std::printf("%s / %s: %.2f ms / %.2f ms a frame, %.1f times faster; at 1 GB/s %.3f / %.3f of a core\n",
                    candidate, baseline, c->second, b->second, b->second / c->second,
                    c->second * 1e-3 * 1e9 / static_cast<double>(frameBytes().size()),
                    b->second * 1e-3 * 1e9 / static_cast<double>(frameBytes().size()));
    };
    ratio("BM_Fnv1a64", "BM_FrameDigest");
    ratio("BM_WorkerChecksumEveryFrame", "BM_WorkerDigestEveryFrame");
    return 0;
}
