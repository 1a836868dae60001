// bench_pipeline: 1920 x 1080 RGB frames, one block per row, from the
// library core to a loopback receiver, against a plain sendto loop of the
// same datagrams, in one run.
//
// The receiver answers the channel's control requests and reports every
// millisecond a full FIFO free and the last packet number it received, so
// flow control stays open while it keeps up and holds the sender (packet
// window) when it does not. It takes the data with recvmmsg and UDP receive
// offload and counts every datagram; what the kernel dropped is counted as
// lost, never hidden.
#include "LoopbackUnit.h"
#include "ReplayMessages.h"
#include "VXQIRApiImpl.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/udp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using namespace vxqir;

constexpr uint16_t kWidth = 1920;
constexpr uint16_t kHeight = 1080;
constexpr uint16_t kLineBytes = kWidth * 3;
constexpr uint16_t kMaxPayload = 8948; // 9000-byte MTU
constexpr uint32_t kFifoEntries = 4096;
constexpr const char* kControlIp = "127.0.0.2";
constexpr const char* kDataIp = "127.0.0.3";

std::atomic<bool> interrupted{ false };

using bench::bindUdp;

// Counts the sensor datagrams arriving at its socket.
class CountingReceiver {
public:
    explicit CountingReceiver(int fd) : fd_(fd)
    {
        const int on = 1;
        gro_ = ::setsockopt(fd_, SOL_UDP, UDP_GRO, &on, sizeof(on)) == 0;
        thread_ = std::thread([this] { run(); });
    }
    ~CountingReceiver()
    {
        stop_ = true;
        thread_.join();
    }
    void reset()
    {
        datagrams_ = 0;
        bytes_ = 0;
        first_ = last_ = Clock::time_point{};
    }
    uint64_t datagrams() const { return datagrams_.load(); }
    uint64_t bytes() const { return bytes_.load(); }
    uint16_t lastPacket() const { return lastPacket_.load(); }
    /// A unit counts rx_packet_num from 0 again when a channel is enabled:
    /// without this the library's next run would find the previous way's
    /// packet number and its flow control would hold it.
    void restartPacketNumbers() { lastPacket_.store(0); }
    bool offload() const { return gro_; }
    // Seconds from the first to the last datagram counted.
    double busySeconds() const { return std::chrono::duration<double>(last_.load() - first_.load()).count(); }
    // Waits until nothing arrived for `quiet` (at most `limit`).
    void waitQuiet(std::chrono::milliseconds quiet, std::chrono::seconds limit) const
    {
        const auto end = Clock::now() + limit;
        uint64_t seen = datagrams();
        auto since = Clock::now();
        while (Clock::now() < end) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            if (datagrams() != seen) {
                seen = datagrams();
                since = Clock::now();
            } else if (Clock::now() - since >= quiet) {
                return;
            }
        }
    }

private:
    void run()
    {
        constexpr size_t kSlots = 64;
        constexpr size_t kSlotBytes = 65536;
        std::vector<uint8_t> storage(kSlots * kSlotBytes);
        std::vector<iovec> iov(kSlots);
        std::vector<mmsghdr> messages(kSlots);
        struct alignas(cmsghdr) Control {
            uint8_t bytes[CMSG_SPACE(sizeof(int))];
        };
        std::vector<Control> controls(kSlots);
        while (!stop_) {
            pollfd p{ fd_, POLLIN, 0 };
            if (::poll(&p, 1, 20) <= 0)
                continue;
            for (size_t i = 0; i < kSlots; ++i) {
                iov[i] = { storage.data() + i * kSlotBytes, kSlotBytes };
                messages[i] = {};
                messages[i].msg_hdr.msg_iov = &iov[i];
                messages[i].msg_hdr.msg_iovlen = 1;
                messages[i].msg_hdr.msg_control = controls[i].bytes;
                messages[i].msg_hdr.msg_controllen = sizeof(controls[i].bytes);
            }
            const int n = ::recvmmsg(fd_, messages.data(), kSlots, MSG_DONTWAIT, nullptr);
            if (n <= 0)
                continue;
            const auto now = Clock::now();
            if (datagrams_ == 0)
                first_ = now;
            uint64_t count = 0;
            uint64_t bytes = 0;
            for (int i = 0; i < n; ++i) {
                const size_t length = messages[i].msg_len;
                size_t segment = length;
                msghdr& h = messages[i].msg_hdr;
                for (cmsghdr* c = CMSG_FIRSTHDR(&h); c != nullptr; c = CMSG_NXTHDR(&h, c))
                    if (c->cmsg_level == SOL_UDP && c->cmsg_type == UDP_GRO) {
                        int size = 0;
                        std::memcpy(&size, CMSG_DATA(c), sizeof(size));
                        if (size > 0)
                            segment = static_cast<size_t>(size);
                    }
                const uint8_t* base = storage.data() + static_cast<size_t>(i) * kSlotBytes;
                size_t offset = 0;
                for (; offset + SENSOR_HEADER_SIZE <= length; offset += segment) {
                    ReplaySensorMessageHeader header{};
                    std::memcpy(&header, base + offset, SENSOR_HEADER_SIZE);
                    lastPacket_.store(header.packetNumber, std::memory_order_relaxed);
                    ++count;
                }
                bytes += length;
            }
            datagrams_ += count;
            bytes_ += bytes;
            last_ = now;
        }
    }

    int fd_;
    bool gro_ = false;
    std::atomic<bool> stop_{ false };
    std::atomic<uint64_t> datagrams_{ 0 };
    std::atomic<uint64_t> bytes_{ 0 };
    std::atomic<uint16_t> lastPacket_{ 0 };
    std::atomic<Clock::time_point> first_{};
    std::atomic<Clock::time_point> last_{};
    std::thread thread_;
};

// Answers control requests and keeps flow control open from the receiver's
// last packet number.
class ControlResponder {
public:
    ControlResponder(int fd, CountingReceiver& receiver) : fd_(fd), receiver_(receiver)
    {
        thread_ = std::thread([this] { run(); });
    }
    ~ControlResponder()
    {
        stop_ = true;
        thread_.join();
    }

private:
    void run()
    {
        sockaddr_in client{};
        bool known = false;
        auto nextStatus = Clock::now();
        while (!stop_) {
            pollfd p{ fd_, POLLIN, 0 };
            if (::poll(&p, 1, 1) > 0) {
                ReplayControlMessage request{};
                socklen_t length = sizeof(client);
                if (::recvfrom(fd_, &request, sizeof(request), 0, reinterpret_cast<sockaddr*>(&client), &length) >=
                    static_cast<ssize_t>(CONTROL_HEADER_LENGTH)) {
                    known = true;
                    if (request.command == static_cast<uint16_t>(Command::ENABLE_CHANNEL))
                        receiver_.restartPacketNumbers();
                    const bool buffer = request.command == static_cast<uint16_t>(Command::GET_BUFFER_SIZE);
                    ReplayStatusMessage reply = makeStatusMessage(
                        request.channel_number, buffer ? RESPONSE_BUFFER_SIZE : request.command, request.request_id);
                    if (buffer)
                        reply.payload.buffer.total_fifo_entries = kFifoEntries;
                    ::sendto(fd_, &reply, sizeof(reply), 0, reinterpret_cast<sockaddr*>(&client), sizeof(client));
                }
            }
            if (known && Clock::now() >= nextStatus) {
                nextStatus = Clock::now() + std::chrono::milliseconds(1);
                ReplayStatusMessage periodic = makeStatusMessage(0, RESPONSE_PERIODIC_STATUS, 0);
                periodic.payload.status.flags = STATUS_FLAG_ENABLED;
                periodic.payload.status.rx_packet_num = receiver_.lastPacket();
                periodic.payload.status.free_fifo_entries = kFifoEntries;
                ::sendto(fd_, &periodic, sizeof(periodic), 0, reinterpret_cast<sockaddr*>(&client), sizeof(client));
            }
        }
    }

    int fd_;
    CountingReceiver& receiver_;
    std::atomic<bool> stop_{ false };
    std::thread thread_;
};

struct Figures {
    const char* name;
    uint64_t frames = 0;
    uint64_t datagramsSent = 0;
    double sendSeconds = 0;
    uint64_t datagramsReceived = 0;
    double receiveSeconds = 0;
    double senderFps() const { return sendSeconds > 0 ? frames / sendSeconds : 0; }
    double receiverFps() const
    {
        return receiveSeconds > 0 ? static_cast<double>(datagramsReceived) / kHeight / receiveSeconds : 0;
    }
};

void print(const Figures& f)
{
    const uint64_t lost = f.datagramsSent > f.datagramsReceived ? f.datagramsSent - f.datagramsReceived : 0;
    std::printf("%-22s frames %5llu  sender %8.1f frames/s (%6.2f Gbit/s)  receiver %8.1f frames/s  "
                "datagrams sent %9llu received %9llu lost %llu\n",
                f.name, static_cast<unsigned long long>(f.frames), f.senderFps(),
                f.sendSeconds > 0 ? f.datagramsSent * (SENSOR_HEADER_SIZE + kLineBytes) * 8.0 / f.sendSeconds / 1e9
                                  : 0.0,
                f.receiverFps(), static_cast<unsigned long long>(f.datagramsSent),
                static_cast<unsigned long long>(f.datagramsReceived), static_cast<unsigned long long>(lost));
}

void usage(FILE* out)
{
    std::fprintf(out,
                 "usage: bench_pipeline [--frames N] [--seconds S]\n"
                 "  Sends N 1920x1080 RGB frames (default 300) per method to a receiver on\n"
                 "  127.0.0.2 / 127.0.0.3, each method stopping after S seconds (default 20):\n"
                 "  a plain sendto loop, the library one block per call, and the library's\n"
                 "  batched send. Prints sender and receiver figures and the ratios.\n");
}

} // namespace

int main(int argc, char** argv)
{
    uint64_t frames = 300;
    int seconds = 20;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "-h" || a == "--help") {
            usage(stdout);
            return 0;
        }
        if ((a == "--frames" || a == "--seconds") && i + 1 < argc) {
            char* end = nullptr;
            const long v = std::strtol(argv[++i], &end, 10);
            if (*end != '\0' || v <= 0 || v > 100000) {
                std::fprintf(stderr, "bench_pipeline: %s wants a number from 1 to 100000, not '%s'\n", a.c_str(),
                             argv[i]);
                return 2;
            }
            if (a == "--frames")
                frames = static_cast<uint64_t>(v);
            else
                seconds = static_cast<int>(v);
            continue;
        }
        std::fprintf(stderr, "bench_pipeline: unknown argument '%s'\n", a.c_str());
        usage(stderr);
        return 2;
    }
    std::signal(SIGINT, [](int) { interrupted = true; });

    uint16_t dataPort = 0;
    uint16_t controlPort = 0;
    const int dataFd = bindUdp(kDataIp, dataPort, 64 << 20);
    const int controlFd = bindUdp(kControlIp, controlPort, 0);
    if (dataFd < 0 || controlFd < 0) {
        std::fprintf(stderr, "bench_pipeline: cannot bind on %s / %s\n", kControlIp, kDataIp);
        return 1;
    }
    int granted = 0;
    socklen_t grantedLength = sizeof(granted);
    ::getsockopt(dataFd, SOL_SOCKET, SO_RCVBUF, &granted, &grantedLength);

    CountingReceiver receiver(dataFd);
    ControlResponder responder(controlFd, receiver);
    std::printf("1920x1080 RGB frames: %u blocks of %u bytes, %u-byte payloads; receiver buffer %d bytes, "
                "receive offload %s\n",
                kHeight, kLineBytes, kMaxPayload, granted, receiver.offload() ? "on" : "off");

    // One frame of pixels, reused: the same bytes for every method.
    std::vector<uint8_t> pixels(size_t{ kLineBytes } * kHeight);
    for (size_t i = 0; i < pixels.size(); ++i)
        pixels[i] = static_cast<uint8_t>(i * 7);
    const auto limit = std::chrono::seconds(seconds);

    auto measure = [&](const char* name, auto&& sendFrame) {
        receiver.reset();
        Figures f{ name };
        const auto start = Clock::now();
        while (f.frames < frames && !interrupted && Clock::now() - start < limit) {
            if (!sendFrame(static_cast<uint16_t>(f.frames)))
                break;
            ++f.frames;
        }
        f.sendSeconds = std::chrono::duration<double>(Clock::now() - start).count();
        f.datagramsSent = f.frames * kHeight;
        receiver.waitQuiet(std::chrono::milliseconds(300), std::chrono::seconds(10));
        f.datagramsReceived = receiver.datagrams();
        f.receiveSeconds = receiver.busySeconds();
        print(f);
        return f;
    };

    // Plain loop: the same datagrams, prepared once, one sendto each.
    std::vector<uint8_t> datagrams(size_t{ kHeight } * (SENSOR_HEADER_SIZE + kLineBytes));
    const int plainFd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(dataPort);
    ::inet_pton(AF_INET, kDataIp, &to.sin_addr);
    uint16_t plainPacket = 0;
    const Figures plain = measure("plain sendto loop", [&](uint16_t frame) {
        for (uint16_t line = 0; line < kHeight; ++line) {
            uint8_t* d = datagrams.data() + size_t{ line } * (SENSOR_HEADER_SIZE + kLineBytes);
            ReplaySensorMessageHeader h{};
            h.frameNumber = frame;
            h.lineNumber = line;
            h.payloadSize = kLineBytes;
            h.version = QIR_PROTOCOL_VERSION;
            h.packetNumber = plainPacket++;
            h.setEndMarks(true, line == kHeight - 1);
            std::memcpy(d, &h, SENSOR_HEADER_SIZE);
            std::memcpy(d + SENSOR_HEADER_SIZE, pixels.data() + size_t{ line } * kLineBytes, kLineBytes);
        }
        for (uint16_t line = 0; line < kHeight; ++line)
            ::sendto(plainFd, datagrams.data() + size_t{ line } * (SENSOR_HEADER_SIZE + kLineBytes),
                     SENSOR_HEADER_SIZE + kLineBytes, 0, reinterpret_cast<sockaddr*>(&to), sizeof(to));
        return true;
    });
    ::close(plainFd);

    const std::unique_ptr<VXQIRApiS> api =
        VXQIRApiS::createIsolated([] { return int64_t{ 0 }; }, [](const char*) { return true; });
    VXTQirInputInterfaceT unit{};
    unit.controlIP = kControlIp;
    unit.controlPort = controlPort;
    unit.dataIP = kDataIp;
    unit.dataBasePort = dataPort;
    unit.maxPayloadSize = kMaxPayload;
    unit.timeoutGet_ms = 1000;
    unit.timeoutStream_ms = 2000;
    VXTQirChannelHandle handle = -1;
    if (api->registerOutputChannel(&unit, 0, &handle) != NoError ||
        api->initOutputChannel(handle, kLineBytes, kHeight) != NoError) {
        std::fprintf(stderr, "bench_pipeline: the channel could not be prepared\n");
        return 1;
    }

    const Figures single = measure("library, block per call", [&](uint16_t frame) {
        for (uint16_t line = 0; line < kHeight; ++line) {
            const VXTQirPacketPropertiesT p{ .timestamp = 0, .frameNumber = frame, .lineNumber = line, .streamID = 0 };
            const VXTQirError e =
                api->replayStreamData(handle, &p, pixels.data() + size_t{ line } * kLineBytes, kLineBytes);
            if (e != NoError) {
                std::fprintf(stderr, "bench_pipeline: %s\n", VXQIR_ErrorToString(e));
                return false;
            }
        }
        return true;
    });

    std::vector<ReplayBlock> blocks(kHeight);
    const Figures batched = measure("library, batched", [&](uint16_t frame) {
        for (uint16_t line = 0; line < kHeight; ++line)
            blocks[line] =
                ReplayBlock{ .properties = { .timestamp = 0, .frameNumber = frame, .lineNumber = line, .streamID = 0 },
                             .payload = pixels.data() + size_t{ line } * kLineBytes,
                             .payloadSize = kLineBytes };
        size_t sent = 0;
        const VXTQirError e = api->replayStreamBlocks(handle, blocks, &sent);
        if (e != NoError) {
            std::fprintf(stderr, "bench_pipeline: %s after %zu blocks\n", VXQIR_ErrorToString(e), sent);
            return false;
        }
        return true;
    });
    (void)api->unregisterOutputChannel(handle);

    const auto ratio = [](double a, double b) { return b > 0 ? a / b : 0.0; };
    std::printf("batched / plain loop: sender %.2f, receiver %.2f\n", ratio(batched.senderFps(), plain.senderFps()),
                ratio(batched.receiverFps(), plain.receiverFps()));
    std::printf("block per call / plain loop: sender %.2f, receiver %.2f\n",
                ratio(single.senderFps(), plain.senderFps()), ratio(single.receiverFps(), plain.receiverFps()));
    if (std::system("command -v gst-launch-1.0 > /dev/null 2>&1") != 0)
        std::printf("GStreamer comparison skipped: gst-launch-1.0 is not installed\n");
    if (interrupted) {
        std::printf("interrupted: the figures above cover the frames sent until then\n");
        return 130;
    }
    // A way that sent nothing failed (its error is printed above): no figure.
    for (const Figures* f : { &plain, &single, &batched }) {
        if (f->frames == 0) {
            std::fprintf(stderr, "bench_pipeline: %s sent no frame; the figures are not valid\n", f->name);
            return 1;
        }
    }
    return 0;
}
