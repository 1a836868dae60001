// How fast a grabber recording is read and checked before a replay (every
// frame header, packet record, header ECC and payload CRC), against reading
// the same file with read() in 128 KiB blocks as `cat FILE > /dev/null`
// does, from the page cache, in the same run. Prints the ratio of the two
// rates at the end (target: the check at 1 GB/s or more). Also the index a
// player's Birth makes of a file checked before (frame headers only).
//
// The recording (1920 x 1080, 16 bits per pixel, 80 frames, 333 MB) is
// generated into the temporary directory first and removed at the end.
#include "Recording.h"
#include "RecordingGenerator.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <unistd.h>

namespace {

std::string g_path;
uint64_t g_size = 0;

void readWhole()
{
    const int fd = ::open(g_path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        std::perror("open");
        std::exit(2);
    }
    static char block[128 * 1024];
    uint64_t total = 0;
    for (;;) {
        const ssize_t n = ::read(fd, block, sizeof block);
        if (n <= 0)
            break;
        total += static_cast<uint64_t>(n);
    }
    ::close(fd);
    benchmark::DoNotOptimize(total);
    if (total != g_size)
        std::exit(2);
}

void BM_ReadLikeCat(benchmark::State& state)
{
    for (auto _ : state)
        readWhole();
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * g_size));
}
BENCHMARK(BM_ReadLikeCat)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();

void BM_CheckGrabber(benchmark::State& state)
{
    for (auto _ : state) {
        const auto recording = qir::replay::Recording::open(g_path);
        benchmark::DoNotOptimize(recording.frames().size());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * g_size));
}
BENCHMARK(BM_CheckGrabber)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();

/// What a player's Birth does with the fingerprint of the check: the frame
/// headers alone.
void BM_TrustedIndex(benchmark::State& state)
{
    qir::replay::OpenOptions options;
    options.checked = qir::replay::MappedFile(g_path).fingerprint();
    for (auto _ : state) {
        const auto recording = qir::replay::Recording::open(g_path, options);
        if (!recording.trustedIndex())
            state.SkipWithError("the index was not trusted");
        benchmark::DoNotOptimize(recording.frames().size());
    }
}
BENCHMARK(BM_TrustedIndex)->Unit(benchmark::kMicrosecond)->UseRealTime();

/// The console output, keeping each benchmark's bytes per second.
class RateReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& run : runs) {
            const auto rate = run.counters.find("bytes_per_second");
            if (run.run_type == Run::RT_Iteration && rate != run.counters.end())
                rates[run.benchmark_name()] = rate->second.value;
        }
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> rates;
};

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    char dirTemplate[] = "/tmp/qir-check-bench-XXXXXX";
    if (::mkdtemp(dirTemplate) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::string dir = dirTemplate;
    g_path = dir + "/hd.grab";
    qir::gen::GenSpec spec;
    spec.width = 1920;
    spec.height = 1080;
    spec.fps = 30.0;
    spec.frames = 80;
    qir::gen::generateRecording(spec, g_path, [] { return false; });
    g_size = std::filesystem::file_size(g_path);
    readWhole(); // into the page cache
    std::fprintf(stderr, "recording: %s, %llu bytes\n", g_path.c_str(), static_cast<unsigned long long>(g_size));

    RateReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    std::filesystem::remove_all(dir);

    const auto cat = reporter.rates.find("BM_ReadLikeCat/min_time:2.000/real_time");
    const auto check = reporter.rates.find("BM_CheckGrabber/min_time:2.000/real_time");
    if (cat != reporter.rates.end() && check != reporter.rates.end() && cat->second > 0)
        std::printf("check %.0f MB/s, read() like cat %.0f MB/s: ratio %.2f (%s 1 GB/s)\n", check->second / 1e6,
                    cat->second / 1e6, check->second / cat->second, check->second >= 1e9 ? "at least" : "BELOW");
    return 0;
}
