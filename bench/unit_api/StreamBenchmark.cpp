// Sending rate of the C API against a plain sendto loop, and of whole
// frames sent a line per call against one batched call per frame.
//
// A loopback receiver drains the data socket with recvmmsg and keeps the
// channel's flow control open with a status message every millisecond.
//
//   library/P, sendto/P   one datagram per block: VXQIR_ReplayStreamData
//                         against sendto of the same datagrams (24-byte
//                         header + P bytes) from a don't-fragment socket
//   perline/P, batched/P  1920x1080 RGB frames (1080 lines of 5760 bytes)
//                         with "maxPayloadSize" P: a VXQIR_ReplayStreamData
//                         per line against a VXQIR_ReplayStreamBlocks per
//                         frame
//
// Payloads 1448 and 8948, and 1440 for the frames (the equal cut of a line
// within a 1500-byte MTU); rounds alternate, the summary gives medians. A
// round that fails (a call returns an error) fails the program: it prints
// what failed and exits 1.
//
//   scripts/bench.sh unit_api_stream_benchmark

#include "LoopbackUnit.h"
#include "ReplayMessages.h"
#include "VXQIRApi.h"
#include "VXQIRApiBatch.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cerrno>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace vxqir;

using bench::LoopbackUnit;

LoopbackUnit& unit()
{
    static LoopbackUnit instance;
    return instance;
}

// Items (datagrams or frames) per second of every round, by benchmark and
// payload.
std::map<std::string, std::vector<double>> g_rates;
// What went wrong in the rounds that failed, in order.
std::vector<std::string> g_failures;

void fail(benchmark::State& state, const std::string& what)
{
    g_failures.push_back(what);
    state.SkipWithError(what.c_str());
}

constexpr uint16_t kFrameWidth = 5760; // bytes per line: 1920 RGB pixels
constexpr uint16_t kFrameHeight = 1080;

// A registered channel of the loopback unit with its first status in.
VXTQirChannelHandle openChannel(benchmark::State& state, uint16_t payload, uint16_t width, uint16_t height)
{
    const VXTQirInputInterfaceT config =
        bench::loopbackChannelConfig(unit().controlPort(), unit().dataPort(), payload, 1000, 5000);
    VXTQirChannelHandle handle = -1;
    VXTQirError result = VXQIR_RegisterOutputChannel(&config, 0, &handle);
    if (result == NoError)
        result = VXQIR_InitOutputChannel(handle, width, height);
    if (result != NoError) {
        fail(state, std::string("cannot prepare the channel: ") + VXQIR_ErrorToString(result));
        if (handle >= 0)
            VXQIR_UnregisterOutputChannel(handle);
        return -1;
    }
    // The unit reports every millisecond once the channel is enabled.
    VXTQirStatusT status{};
    while (VXQIR_GetCurrentState(handle, &status) != NoError)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return handle;
}

double median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

void BM_LibraryStream(benchmark::State& state)
{
    const auto payload = static_cast<uint16_t>(state.range(0));
    const VXTQirChannelHandle handle = openChannel(state, payload, payload, kFrameHeight);
    if (handle < 0)
        return;
    std::vector<uint8_t> line(payload, 0xa5);
    VXTQirPacketPropertiesT packet{};

    uint16_t lineNumber = 0;
    const uint64_t receivedBefore = unit().received();
    for (auto _ : state) {
        packet.lineNumber = lineNumber;
        lineNumber = static_cast<uint16_t>((lineNumber + 1) % kFrameHeight);
        const VXTQirError result = VXQIR_ReplayStreamData(handle, &packet, line.data(), payload);
        if (result != NoError) {
            fail(state,
                 "library/" + std::to_string(payload) + ": VXQIR_ReplayStreamData: " + VXQIR_ErrorToString(result));
            break;
        }
    }
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * (payload + 24));
    // How far the receiver was behind when sending stopped.
    state.counters["receiver_lag"] =
        static_cast<double>(state.iterations()) - static_cast<double>(unit().received() - receivedBefore);
    VXQIR_UnregisterOutputChannel(handle);
}

// Whole frames: Arg 0 is "maxPayloadSize", Arg 1 is 1 for one batched call
// per frame, 0 for a call per line.
void BM_Frames(benchmark::State& state)
{
    const auto payload = static_cast<uint16_t>(state.range(0));
    const bool batched = state.range(1) != 0;
    const VXTQirChannelHandle handle = openChannel(state, payload, kFrameWidth, kFrameHeight);
    if (handle < 0)
        return;
    std::vector<uint8_t> frame(static_cast<size_t>(kFrameWidth) * kFrameHeight, 0x5a);
    std::vector<VXTQirReplayBlockT> blocks(kFrameHeight);
    for (uint16_t line = 0; line < kFrameHeight; ++line)
        blocks[line] =
            VXTQirReplayBlockT{ .properties = { .timestamp = 0, .frameNumber = 0, .lineNumber = line, .streamID = 0 },
                                .payload = frame.data() + static_cast<size_t>(line) * kFrameWidth,
                                .payloadSize = kFrameWidth };
    uint16_t frameNumber = 0;
    for (auto _ : state) {
        for (VXTQirReplayBlockT& block : blocks)
            block.properties.frameNumber = frameNumber;
        ++frameNumber;
        VXTQirError result = NoError;
        const char* call = batched ? "VXQIR_ReplayStreamBlocks" : "VXQIR_ReplayStreamData";
        if (batched) {
            uint32_t sent = 0;
            result = VXQIR_ReplayStreamBlocks(handle, blocks.data(), kFrameHeight, &sent);
        } else {
            for (const VXTQirReplayBlockT& block : blocks) {
                result = VXQIR_ReplayStreamData(handle, &block.properties, block.payload, block.payloadSize);
                if (result != NoError)
                    break;
            }
        }
        if (result != NoError) {
            fail(state,
                 (batched ? "batched/" : "perline/") + std::to_string(payload) + ": " + call + ": " +
                     VXQIR_ErrorToString(result));
            break;
        }
    }
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kFrameWidth * kFrameHeight);
    VXQIR_UnregisterOutputChannel(handle);
}

void BM_PlainSendto(benchmark::State& state)
{
    const auto payload = static_cast<size_t>(state.range(0));
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    const int policy = IP_PMTUDISC_DO;
    ::setsockopt(fd, IPPROTO_IP, IP_MTU_DISCOVER, &policy, sizeof(policy));
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(unit().dataPort());
    ::inet_pton(AF_INET, "127.0.0.3", &to.sin_addr);
    std::vector<uint8_t> datagram(SENSOR_HEADER_SIZE + payload, 0xa5);
    auto* header = reinterpret_cast<ReplaySensorMessageHeader*>(datagram.data());
    *header = ReplaySensorMessageHeader{};
    header->version = QIR_PROTOCOL_VERSION;
    header->payloadSize = static_cast<uint16_t>(payload);
    uint16_t packetNumber = 0;
    for (auto _ : state) {
        header->packetNumber = packetNumber++;
        if (::sendto(fd, datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof(to)) < 0) {
            fail(state, "sendto/" + std::to_string(payload) + ": sendto: " + std::strerror(errno));
            break;
        }
    }
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(datagram.size()));
    ::close(fd);
}

// Keeps the console output and notes each run's datagram rate.
class RateReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& run : runs) {
            const auto items = run.counters.find("items_per_second");
            if (items != run.counters.end())
                g_rates[run.run_name.function_name].push_back(items->second.value);
        }
        ConsoleReporter::ReportRuns(runs);
    }
};

} // namespace

int main(int argc, char** argv)
{
    // Rounds of the senders alternate, so that a change in how busy the
    // machine is touches all alike; the summary takes each one's median.
    constexpr int rounds = 5;
    for (int round = 0; round < rounds; ++round) {
        // 1440: the equal cut of a 5760-byte line within a 1500-byte MTU.
        for (int payload : { 1440, 1448, 8948 }) {
            const std::string p = std::to_string(payload);
            if (payload != 1440) {
                benchmark::RegisterBenchmark(("library/" + p).c_str(), BM_LibraryStream)
                    ->Arg(payload)
                    ->MinTime(0.5)
                    ->UseRealTime();
                benchmark::RegisterBenchmark(("sendto/" + p).c_str(), BM_PlainSendto)
                    ->Arg(payload)
                    ->MinTime(0.5)
                    ->UseRealTime();
            }
            benchmark::RegisterBenchmark(("perline/" + p).c_str(), BM_Frames)
                ->Args({ payload, 0 })
                ->MinTime(0.5)
                ->UseRealTime();
            benchmark::RegisterBenchmark(("batched/" + p).c_str(), BM_Frames)
                ->Args({ payload, 1 })
                ->MinTime(0.5)
                ->UseRealTime();
        }
    }
    benchmark::Initialize(&argc, argv);
    RateReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    const auto rate = [](const std::string& name) {
        const auto found = g_rates.find(name);
        return found == g_rates.end() ? 0.0 : median(found->second);
    };
    std::printf("\nmedian rates\n%-8s %16s %16s %7s %14s %14s %7s\n", "payload", "library dgram/s", "sendto dgram/s",
                "ratio", "perline fr/s", "batched fr/s", "ratio");
    // "-" for what was not measured (filtered out, or not run at 1440).
    const auto cell = [](double value, int decimals) {
        char text[32];
        std::snprintf(text, sizeof(text), "%.*f", decimals, value);
        return value > 0 ? std::string(text) : std::string("-");
    };
    for (const char* payload : { "1440", "1448", "8948" }) {
        const std::string p(payload);
        const double library = rate("library/" + p), plain = rate("sendto/" + p);
        const double perLine = rate("perline/" + p), batched = rate("batched/" + p);
        std::printf("%-8s %16s %16s %7s %14s %14s %7s\n", payload, cell(library, 0).c_str(), cell(plain, 0).c_str(),
                    cell(plain > 0 ? library / plain : 0.0, 3).c_str(), cell(perLine, 1).c_str(),
                    cell(batched, 1).c_str(), cell(perLine > 0 ? batched / perLine : 0.0, 3).c_str());
    }
    std::printf("datagrams received by the loopback unit: %llu\n", static_cast<unsigned long long>(unit().received()));

    // Only a run whose every round ran gives figures.
    if (!g_failures.empty()) {
        std::fprintf(stderr, "error: %zu round(s) failed; the figures above are not valid\n", g_failures.size());
        for (const std::string& failure : g_failures)
            std::fprintf(stderr, "  %s\n", failure.c_str());
        return 1;
    }
    for (const auto& [name, rates] : g_rates) {
        if (rates.empty() || median(rates) <= 0) {
            std::fprintf(stderr, "error: %s measured no rate\n", name.c_str());
            return 1;
        }
    }
    return 0;
}
