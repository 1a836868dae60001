// Sending rate of VXQIR_ReplayStreamData against a plain sendto loop.
//
// A loopback receiver drains the data socket with recvmmsg and keeps the
// channel's flow control open with a status message every millisecond. Both
// senders send the same datagrams (24-byte header + payload, one datagram
// per block) from a don't-fragment socket; the program prints both rates and
// their ratio for 1448- and 8948-byte payloads.
//
//   scripts/bench.sh unit_api_stream_benchmark

#include "ReplayMessages.h"
#include "VXQIRApi.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
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

constexpr uint32_t FIFO_ENTRIES = 1000;

int boundSocket(const char* ip, uint16_t& port)
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    const int size = 64 << 20;
    if (::setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &size, sizeof(size)) != 0)
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof(size));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    ::inet_pton(AF_INET, ip, &address.sin_addr);
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address));
    socklen_t length = sizeof(address);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    port = ntohs(address.sin_port);
    return fd;
}

// A minimal unit: answers every control request with its own command (GET
// requests with the buffer size), drains sensor datagrams and reports free
// FIFO entries and the latest packet number every millisecond.
class LoopbackUnit {
public:
    LoopbackUnit()
    {
        control_ = boundSocket("127.0.0.2", controlPort_);
        data_ = boundSocket("127.0.0.3", dataPort_);
        thread_ = std::thread([this] { run(); });
    }
    ~LoopbackUnit()
    {
        stop_ = true;
        thread_.join();
        ::close(control_);
        ::close(data_);
    }
    uint16_t controlPort() const { return controlPort_; }
    uint16_t dataPort() const { return dataPort_; }
    uint64_t received() const { return received_.load(std::memory_order_relaxed); }

private:
    void run()
    {
        constexpr int batch = 64;
        std::vector<std::vector<uint8_t>> buffers(batch, std::vector<uint8_t>(65536));
        std::vector<iovec> iov(batch);
        std::vector<mmsghdr> messages(batch);
        for (int i = 0; i < batch; ++i) {
            iov[i] = { buffers[i].data(), buffers[i].size() };
            messages[i].msg_hdr = {};
            messages[i].msg_hdr.msg_iov = &iov[i];
            messages[i].msg_hdr.msg_iovlen = 1;
        }
        sockaddr_in client{};
        bool haveClient = false;
        uint16_t lastPacket = 0;
        auto nextStatus = std::chrono::steady_clock::now();
        pollfd fds[2] = { { control_, POLLIN, 0 }, { data_, POLLIN, 0 } };
        while (!stop_) {
            ::poll(fds, 2, 1);
            if (fds[0].revents & POLLIN) {
                ReplayControlMessage request{};
                socklen_t length = sizeof(client);
                if (::recvfrom(control_, &request, sizeof(request), 0,
                               reinterpret_cast<sockaddr*>(&client), &length) >= 12) {
                    haveClient = true;
                    reply(request, client);
                }
            }
            if (fds[1].revents & POLLIN) {
                const int n = ::recvmmsg(data_, messages.data(), batch, MSG_DONTWAIT, nullptr);
                for (int i = 0; i < n; ++i) {
                    ReplaySensorMessageHeader header;
                    std::memcpy(&header, buffers[i].data(), sizeof(header));
                    lastPacket = header.packetNumber;
                }
                if (n > 0)
                    received_.fetch_add(static_cast<uint64_t>(n), std::memory_order_relaxed);
            }
            if (haveClient && std::chrono::steady_clock::now() >= nextStatus) {
                nextStatus += std::chrono::milliseconds(1);
                ReplayStatusMessage status = header(0, RESPONSE_PERIODIC_STATUS, 0);
                status.payload.status.flags = STATUS_FLAG_ENABLED;
                status.payload.status.rx_packet_num = lastPacket;
                status.payload.status.free_fifo_entries = FIFO_ENTRIES;
                send(status, client);
            }
        }
    }

    static ReplayStatusMessage header(uint8_t channel, uint16_t type, uint16_t id)
    {
        ReplayStatusMessage message{};
        std::memcpy(message.MAGIC_BYTES, QIR_STATUS_MAGIC_BYTES.data(), QIR_STATUS_MAGIC_BYTES.size());
        message.VERSION = QIR_PROTOCOL_VERSION;
        message.packet_length = sizeof(message);
        message.channel = channel;
        message.response_type = type;
        message.response_id = id;
        return message;
    }

    void reply(const ReplayControlMessage& request, const sockaddr_in& to)
    {
        ReplayStatusMessage message = header(request.channel_number, request.command, request.request_id);
        message.payload.buffer.total_fifo_entries = FIFO_ENTRIES;
        send(message, to);
    }

    void send(const ReplayStatusMessage& message, const sockaddr_in& to)
    {
        ::sendto(control_, &message, sizeof(message), 0, reinterpret_cast<const sockaddr*>(&to),
                 sizeof(to));
    }

    int control_ = -1, data_ = -1;
    uint16_t controlPort_ = 0, dataPort_ = 0;
    std::atomic<bool> stop_{ false };
    std::atomic<uint64_t> received_{ 0 };
    std::thread thread_;
};

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
    VXTQirInputInterfaceT config{};
    config.controlIP = "127.0.0.2";
    config.controlPort = unit().controlPort();
    config.dataIP = "127.0.0.3";
    config.dataBasePort = unit().dataPort();
    config.localIP = "127.0.0.1";
    config.maxPayloadSize = payload;
    config.timeoutGet_ms = 1000;
    config.timeoutStream_ms = 5000;
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
        if (::sendto(fd, datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr*>(&to),
                     sizeof(to)) < 0) {
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
                ->Arg(payload)->MinTime(0.5)->UseRealTime();
            benchmark::RegisterBenchmark(("sendto/" + std::to_string(payload)).c_str(), BM_PlainSendto)
                ->Arg(payload)->MinTime(0.5)->UseRealTime();
        }
    }
    benchmark::Initialize(&argc, argv);
    RateReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    std::printf("\nmedian rates\n%-10s %18s %18s %8s\n", "payload", "library dgram/s",
                "sendto dgram/s", "ratio");
    for (const char* payload : { "1448", "8948" }) {
        const double library = median(g_rates[std::string("library/") + payload]);
        const double plain = median(g_rates[std::string("sendto/") + payload]);
        std::printf("%-10s %18.0f %18.0f %8.3f\n", payload, library, plain,
                    plain > 0 ? library / plain : 0.0);
    }
    std::printf("datagrams received by the loopback unit: %llu\n",
                static_cast<unsigned long long>(unit().received()));
    return 0;
}
