// Sending rate of VXQIR_ReplayStreamData against a plain sendto loop.
//
// A loopback receiver drains the data socket with recvmmsg and keeps the
// channel's flow control open with a status message every millisecond. Both
// senders send the same datagrams (24-byte header + payload, one datagram
// per block) from a don't-fragment socket; the program prints both rates and
// their ratio for 1448- and 8948-byte payloads.
//
//   scripts/bench.sh unit_api_stream_benchmark

#include "LoopbackUnit.h"
#include "ReplayMessages.h"
#include "VXQIRApi.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <algorithm>
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

// Datagrams per second of every round, by benchmark and payload.
std::map<std::string, std::vector<double>> g_rates;

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
    const VXTQirInputInterfaceT config =
        bench::loopbackChannelConfig(unit().controlPort(), unit().dataPort(), payload, 1000, 5000);
    VXTQirChannelHandle handle = -1;
    if (VXQIR_RegisterOutputChannel(&config, 0, &handle) != NoError ||
        VXQIR_InitOutputChannel(handle, payload, 1080) != NoError) {
        state.SkipWithError("cannot prepare the channel");
        return;
    }
    std::vector<uint8_t> line(payload, 0xa5);
    VXTQirPacketPropertiesT packet{};
    VXTQirStatusT status{};
    while (VXQIR_GetCurrentState(handle, &status) != NoError)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));

    uint16_t lineNumber = 0;
    const uint64_t receivedBefore = unit().received();
    for (auto _ : state) {
        packet.lineNumber = lineNumber;
        lineNumber = static_cast<uint16_t>((lineNumber + 1) % 1080);
        if (VXQIR_ReplayStreamData(handle, &packet, line.data(), payload) != NoError) {
            state.SkipWithError("send failed");
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
            state.SkipWithError("sendto failed");
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
    // Rounds of the two senders alternate, so that a change in how busy the
    // machine is touches both alike; the summary takes each one's median.
    constexpr int rounds = 5;
    for (int payload : { 1448, 8948 }) {
        for (int round = 0; round < rounds; ++round) {
            benchmark::RegisterBenchmark(("library/" + std::to_string(payload)).c_str(), BM_LibraryStream)
                ->Arg(payload)
                ->MinTime(0.5)
                ->UseRealTime();
            benchmark::RegisterBenchmark(("sendto/" + std::to_string(payload)).c_str(), BM_PlainSendto)
                ->Arg(payload)
                ->MinTime(0.5)
                ->UseRealTime();
        }
    }
    benchmark::Initialize(&argc, argv);
    RateReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    std::printf("\nmedian rates\n%-10s %18s %18s %8s\n", "payload", "library dgram/s", "sendto dgram/s", "ratio");
    for (const char* payload : { "1448", "8948" }) {
        const double library = median(g_rates[std::string("library/") + payload]);
        const double plain = median(g_rates[std::string("sendto/") + payload]);
        std::printf("%-10s %18.0f %18.0f %8.3f\n", payload, library, plain, plain > 0 ? library / plain : 0.0);
    }
    std::printf("datagrams received by the loopback unit: %llu\n", static_cast<unsigned long long>(unit().received()));
    return 0;
}
