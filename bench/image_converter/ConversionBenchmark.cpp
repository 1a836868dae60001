// Converting a 1920 x 1080 raw frame against moving it: each conversion of
// the raw image converter next to memcpy of the same number of output bytes,
// in one run. Prints the median bandwidth of each (output bytes per second),
// the ratio conversion / memcpy, and the allocations per frame.
#include "AllocationCounter.h"
#include "image_converter/RawFrameConversion.h"
#include "image_converter/RawFrameHeader.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

using qir::raw::OutputFormat;

constexpr uint32_t kWidth = 1920;
constexpr uint32_t kHeight = 1080;

struct Frame {
    std::vector<uint8_t> pixels;     ///< raw pixel data after the header
    std::vector<uint8_t> image;      ///< the IPL image's pixels
    std::vector<uint8_t> copySource; ///< as many bytes as the image, for memcpy
    uint32_t widthStep;
};

Frame& frameFor(OutputFormat format)
{
    static std::map<OutputFormat, Frame> frames;
    auto found = frames.find(format);
    if (found != frames.end())
        return found->second;
    const qir::raw::OutputGeometry g = qir::raw::GeometryOf(format);
    Frame f;
    // Row bytes rounded up to 8, as the image model gives them.
    f.widthStep = (kWidth * static_cast<uint32_t>(g.channels * g.depth) / 8 + 7) / 8 * 8;
    f.pixels.resize(static_cast<size_t>(kWidth) * kHeight * g.inputBytesPerPixel);
    for (size_t i = 0; i < f.pixels.size(); ++i)
        f.pixels[i] = static_cast<uint8_t>(i * 131 + 7);
    f.image.assign(static_cast<size_t>(f.widthStep) * kHeight, 0);
    f.copySource.assign(f.image.size(), 0x5A);
    return frames.emplace(format, std::move(f)).first->second;
}

void finish(benchmark::State& state, size_t bytes, uint64_t allocations)
{
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
    state.counters["allocs/frame"] =
        benchmark::Counter(static_cast<double>(allocations) / static_cast<double>(state.iterations()));
}

void BM_Convert(benchmark::State& state)
{
    const auto format = static_cast<OutputFormat>(state.range(0));
    Frame& f = frameFor(format);
    const qir::raw::ImageRows rows{ f.image.data(), kWidth, kHeight, f.widthStep };
    const uint64_t before = qir::test::allocation_count();
    for (auto _ : state) {
        benchmark::DoNotOptimize(qir::raw::ConvertFrame(format, f.pixels.data(), f.pixels.size(), rows));
        benchmark::ClobberMemory();
    }
    finish(state, f.image.size(), qir::test::allocation_count() - before);
}

void BM_Memcpy(benchmark::State& state)
{
    Frame& f = frameFor(static_cast<OutputFormat>(state.range(0)));
    const uint64_t before = qir::test::allocation_count();
    for (auto _ : state) {
        std::memcpy(f.image.data(), f.copySource.data(), f.image.size());
        benchmark::ClobberMemory();
    }
    finish(state, f.image.size(), qir::test::allocation_count() - before);
}

std::map<std::string, std::vector<double>> g_rates;
std::map<std::string, double> g_allocations;

class RateReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& run : runs) {
            const auto bytes = run.counters.find("bytes_per_second");
            if (bytes != run.counters.end())
                g_rates[run.run_name.function_name].push_back(bytes->second.value);
            const auto allocs = run.counters.find("allocs/frame");
            if (allocs != run.counters.end())
                g_allocations[run.run_name.function_name] =
                    std::max(g_allocations[run.run_name.function_name], allocs->second.value);
        }
        ConsoleReporter::ReportRuns(runs);
    }
};

double median(std::vector<double> values)
{
    if (values.empty())
        return 0.0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    // Rounds of conversion and memcpy alternate, so that a change in how busy
    // the machine is touches both alike; the summary takes each one's median.
    constexpr int rounds = 5;
    const std::pair<const char*, OutputFormat> formats[] = { { "yuv422_rgb24", OutputFormat::YuyvInRgb24 },
                                                             { "mono16", OutputFormat::Mono16 } };
    for (int round = 0; round < rounds; ++round) {
        for (const auto& [name, format] : formats) {
            benchmark::RegisterBenchmark((std::string("convert/") + name).c_str(), BM_Convert)
                ->Arg(static_cast<int>(format))
                ->MinTime(0.3)
                ->UseRealTime();
            benchmark::RegisterBenchmark((std::string("memcpy/") + name).c_str(), BM_Memcpy)
                ->Arg(static_cast<int>(format))
                ->MinTime(0.3)
                ->UseRealTime();
        }
    }
    benchmark::Initialize(&argc, argv);
    RateReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    std::printf("\nrow packer: %s\n", qir::raw::RowPackers().front().name);
    std::printf("%u x %u frame, median output bandwidth\n%-14s %14s %14s %8s %14s\n", kWidth, kHeight, "conversion",
                "convert MB/s", "memcpy MB/s", "ratio", "allocs/frame");
    for (const auto& [name, format] : formats) {
        const std::string convert = std::string("convert/") + name;
        const double converted = median(g_rates[convert]) / 1e6;
        const double copied = median(g_rates[std::string("memcpy/") + name]) / 1e6;
        std::printf("%-14s %14.0f %14.0f %8.3f %14.3f\n", name, converted, copied,
                    copied > 0 ? converted / copied : 0.0, g_allocations[convert]);
    }
    return 0;
}
