// Frame rate of the unit client component (VxQirUnitClient) against the
// client library alone, in one run: 1920 x 1080 RGB IPL frames (5760-byte
// lines, "MaxPayLoadSize" 8948, one datagram per line) to a loopback
// receiver that drains the data socket and keeps the flow control open with
// a status message every millisecond. The component runs in-process in the
// engine stand-in's library behind a source that hands out ready frames.
// Prints both frame rates, their ratio, and the heap allocations per frame
// while frames flow, counted on every thread but the main one (which runs
// the engine stand-in's polling loop): source, component, status thread,
// client library and receiver.
//
//   build/bench/unit_client_benchmark [frames]     (per round; default 100, at most 5000)

// The counting operator new below pairs malloc with free on purpose; GCC's
// inlining check cannot see that.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

#include "LoopbackUnit.h"
#include "ReplayMessages.h"
#include "VXQIRApi.h"

#include "abi/KOVATableEnd.h"
#include "abi/KOVAThreadedComponent.h"
#include "Graph.h"
#include "GraphFile.h"
#include "GraphRunner.h"
#include "HostKernel.h"
#include "PackageLibrary.h"
#include "ReportLog.h"

#include "KOVA.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>
#include <thread>
#include <vector>

namespace {
// Allocations of every thread but the main one, which runs the engine
// stand-in's own polling loop (the real engine is not ours to count).
std::atomic<uint64_t> g_allocations{ 0 };
thread_local bool tMainThread = false;
} // namespace

void* operator new(std::size_t size)
{
    if (!tMainThread)
        g_allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size ? size : 1))
        return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept
{
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept
{
    std::free(p);
}

namespace {

using namespace vxqir;

constexpr int WIDTH = 1920;
constexpr int HEIGHT = 1080;
constexpr uint16_t LINE = WIDTH * 3;
constexpr int WARMUP_FRAMES = 10;

using bench::LoopbackUnit;


/// Times the frames from WARMUP_FRAMES to `frames` by the datagrams the
/// receiver counted (one per line), with the allocations in between.
struct Measurement {
    double framesPerSecond = 0;
    double allocationsPerFrame = 0;
};

Measurement measure(const LoopbackUnit& unit, uint64_t before, int frames)
{
    const uint64_t first = before + uint64_t{ WARMUP_FRAMES } * HEIGHT;
    const uint64_t last = before + uint64_t(frames) * HEIGHT;
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (unit.received() < first && std::chrono::steady_clock::now() < limit)
        std::this_thread::sleep_for(std::chrono::microseconds(100));
    const auto start = std::chrono::steady_clock::now();
    const uint64_t allocationsStart = g_allocations.load();
    while (unit.received() < last && std::chrono::steady_clock::now() < limit)
        std::this_thread::sleep_for(std::chrono::microseconds(100));
    const auto end = std::chrono::steady_clock::now();
    const uint64_t allocations = g_allocations.load() - allocationsStart;
    const double seconds = std::chrono::duration<double>(end - start).count();
    const int measured = frames - WARMUP_FRAMES;
    if (unit.received() < last) {
        std::fprintf(stderr, "unit_client_benchmark: only %llu of %llu datagrams arrived in time\n",
                     static_cast<unsigned long long>(unit.received() - before),
                     static_cast<unsigned long long>(last - before));
        return {};
    }
    return { measured / seconds, double(allocations) / measured };
}

Measurement libraryAlone(LoopbackUnit& unit, int frames)
{
    const VXTQirInputInterfaceT config =
        bench::loopbackChannelConfig(unit.controlPort(), unit.dataPort(), 8948, 1000, 50);
    VXTQirChannelHandle handle = -1;
    if (VXQIR_RegisterOutputChannel(&config, 0, &handle) != NoError ||
        VXQIR_InitOutputChannel(handle, LINE, HEIGHT) != NoError) {
        std::fprintf(stderr, "unit_client_benchmark: cannot prepare the channel\n");
        return {};
    }
    VXTQirStatusT status{};
    while (VXQIR_GetCurrentState(handle, &status) != NoError)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    const std::vector<uint8_t> image(size_t{ LINE } * HEIGHT, 0x5a);
    const uint64_t before = unit.received();
    std::thread sender([&] {
        VXTQirPacketPropertiesT packet{};
        for (int f = 0; f < frames; ++f) {
            packet.frameNumber = static_cast<uint16_t>(f);
            for (int l = 0; l < HEIGHT; ++l) {
                packet.lineNumber = static_cast<uint16_t>(l);
                while (VXQIR_ReplayStreamData(handle, &packet, image.data() + size_t{ LINE } * l, LINE) == Timeout) { }
            }
        }
    });
    const Measurement result = measure(unit, before, frames);
    sender.join();
    VXQIR_UnregisterOutputChannel(handle);
    return result;
}

/// Hands out ready frames as fast as they are read, with the replay offset.
class BenchFrameSource : public KOVAComponent {
public:
    static KOVAComponent* Instantiate(const char* name, const KOVAComponentDefinition* definition)
    {
        return new BenchFrameSource(name, definition);
    }
    using KOVAComponent::KOVAComponent;
    void Birth() override
    {
        Output("Image")->AllocOutputBufferIplImage(
            KOVA::IplImageModel(WIDTH, HEIGHT, "BGR", KOVA::IplDataOrderPixel, 8, 4), true);
        Get(Property("Count"), count_);
        sent_ = 0;
    }
    void Core() override
    {
        if (sent_ >= count_) {
            Rest(1'000'000);
            Finish();
        }
        {
            KOVA::OutputGuard<int64_t> offset(this, Output("Offset"));
            *offset.Get() = 1000;
        }
        KOVA::OutputGuard<IplImage> image(this, Output("Image"));
        image.Element()->Timestamp() = sent_ * 40000;
        ++sent_;
    }
    static const KOVAComponentDefinition s_componentDefinition;

private:
    int64_t count_ = 0;
    int64_t sent_ = 0;
};

constexpr KOVAPropertyDefault kCount = KOVAPropertyDefault::Integer(100);
const KOVAPropertyDefinition kProperties[] = {
    { .name = "Count",
      .value = &kCount,
      .unit = nullptr,
      .needs2BeInitialized = false,
      .canBeModifiedAfterStart = false,
      .readOnly = false,
      .locked = true,
      .subtype = 0 },
    KOVA::EndOfProperties,
};
const KOVAOutputDefinition kOutputs[] = {
    { .name = "Image",
      .reserved = 0,
      .type = { .code = KOVA::IplImage, .name = "", .unit = "" },
      .size = 0,
      .fifoSize = 4,
      .subsampling = 1,
      .shareable = 1 },
    { .name = "Offset",
      .reserved = 0,
      .type = { .code = KOVA::Integer64, .name = "", .unit = "" },
      .size = 1,
      .fifoSize = 4,
      .subsampling = 1,
      .shareable = 1 },
    KOVA::EndOfOutputs,
};
const KOVAInputDefinition kInputs[] = { KOVA::EndOfInputs };
const KOVAActionDefinition kActions[] = { KOVA::EndOfActions };

} // namespace

const KOVAComponentDefinition BenchFrameSource::s_componentDefinition =
    KOVA::ThreadedComponent({ .name = "BenchFrameSource",
                              .version = "1.0.0",
                              .instantiate = &BenchFrameSource::Instantiate,
                              .inputs = kInputs,
                              .outputs = kOutputs,
                              .properties = kProperties,
                              .actions = kActions });
KOVA_REGISTER_COMPONENT(BenchFrameSource, BenchFrameSource::s_componentDefinition);

namespace {

Measurement component(LoopbackUnit& unit, int frames)
{
    host::ReportLog log;
    host::EngineProperties engine;
    host::HostKernel::Instance().Attach(&log, nullptr, &engine);
    const std::string toml = "[run]\nuntil = \"sources-end\"\nduration = \"300s\"\n"
                             "[[component]]\nname = \"src\"\nmodel = \"BenchFrameSource\"\nproperties = { Count = " +
        std::to_string(frames) +
        " }\n"
        "[[component]]\nname = \"uc\"\nmodel = \"VxQirUnitClient\"\nproperties = { QirControlIP = \"127.0.0.2\", "
        "QirControlPort = " +
        std::to_string(unit.controlPort()) +
        ", SensorDataIP = \"127.0.0.3\", SensorDataBasePort = " + std::to_string(unit.dataPort()) +
        ", LocalControlIP = \"127.0.0.1\", LocalControlPort = 0, MaxPayLoadSize = 8948, "
        "StatusUpdatePeriod = 100000 }\n"
        "[[connection]]\nfrom = \"src.Image\"\nto = \"uc.SensorDataIn\"\n"
        "[[connection]]\nfrom = \"src.Offset\"\nto = \"uc.LoggingStartTime\"\n";
    std::vector<std::string> errors;
    auto description = host::ParseGraphText(toml, "bench.toml", errors);
    std::string why;
    auto package = host::PackageLibrary::InProcess("in-process", &KOVAPckInit, &KOVAGetModulesDefStruct, why);
    if (!description || !package) {
        std::fprintf(stderr, "unit_client_benchmark: cannot build the graph: %s\n", why.c_str());
        return {};
    }
    std::vector<std::unique_ptr<host::PackageLibrary>> packages;
    packages.push_back(std::move(package));
    auto graph = host::Graph::Build(*description, std::move(packages), errors);
    if (!graph) {
        for (const auto& e : errors)
            std::fprintf(stderr, "unit_client_benchmark: %s\n", e.c_str());
        return {};
    }
    host::RunOptions options;
    options.until = description->until;
    options.durationUs = description->durationUs;
    host::GraphRunner runner(*graph, options);
    const uint64_t before = unit.received();
    Measurement result;
    std::thread observer([&] { result = measure(unit, before, frames); });
    const host::RunResult run = runner.Run();
    observer.join();
    host::HostKernel::Instance().Attach(nullptr, nullptr, nullptr);
    if (run.failed != 0) {
        std::fprintf(stderr, "unit_client_benchmark: the graph failed:\n%s", log.Text().c_str());
        return {};
    }
    return result;
}

} // namespace

int main(int argc, char** argv)
{
    tMainThread = true;
    int frames = 100;
    if (argc > 1) {
        frames = std::atoi(argv[1]);
        if (frames <= WARMUP_FRAMES || frames > 5000) {
            std::fprintf(stderr, "usage: unit_client_benchmark [frames]  (%d < frames <= 5000, default 100)\n",
                         WARMUP_FRAMES);
            return 2;
        }
    }
    // Rounds alternate between the two, so that a busy moment of a shared
    // machine does not fall on one side only; the medians are compared.
    constexpr int ROUNDS = 5;
    LoopbackUnit unit;
    std::vector<double> libraryRates, componentRates;
    double libraryAllocations = 0, componentAllocations = 0;
    for (int round = 0; round < ROUNDS; ++round) {
        const Measurement library = libraryAlone(unit, frames);
        const Measurement viaComponent = component(unit, frames);
        if (library.framesPerSecond <= 0 || viaComponent.framesPerSecond <= 0) {
            std::printf("round %d did not finish: %s\n", round + 1,
                        library.framesPerSecond <= 0 ? "the library alone" : "the component");
            return 1;
        }
        std::printf("round %d: library %.1f frames/s, component %.1f frames/s\n", round + 1, library.framesPerSecond,
                    viaComponent.framesPerSecond);
        libraryRates.push_back(library.framesPerSecond);
        componentRates.push_back(viaComponent.framesPerSecond);
        libraryAllocations = std::max(libraryAllocations, library.allocationsPerFrame);
        componentAllocations = std::max(componentAllocations, viaComponent.allocationsPerFrame);
    }
    const auto median = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return v[v.size() / 2];
    };
    std::printf("1920x1080 RGB IPL frames, %d rounds of %d measured frames (after %d warm-up frames)\n", ROUNDS,
                frames - WARMUP_FRAMES, WARMUP_FRAMES);
    std::printf("library alone:   median %8.1f frames/s  at most %6.2f allocations/frame\n", median(libraryRates),
                libraryAllocations);
    std::printf("VxQirUnitClient: median %8.1f frames/s  at most %6.2f allocations/frame\n", median(componentRates),
                componentAllocations);
    std::printf("ratio component / library: %.3f (target >= 0.9)\n", median(componentRates) / median(libraryRates));
    return 0;
}
