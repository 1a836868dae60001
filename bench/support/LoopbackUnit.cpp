#include "LoopbackUnit.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/udp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <vector>

namespace vxqir::bench {

int bindUdp(const char* ip, uint16_t& port, int receiveBuffer)
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0)
        return -1;
    if (receiveBuffer > 0 && ::setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &receiveBuffer, sizeof(receiveBuffer)) != 0)
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof(receiveBuffer));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    ::inet_pton(AF_INET, ip, &address.sin_addr);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
        ::close(fd);
        return -1;
    }
    socklen_t length = sizeof(address);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    port = ntohs(address.sin_port);
    return fd;
}

LoopbackUnit::LoopbackUnit()
{
    control_ = bindUdp("127.0.0.2", controlPort_, 64 << 20);
    data_ = bindUdp("127.0.0.3", dataPort_, 64 << 20);
    // Equal datagrams that follow one another come up joined, as a unit's
    // network card coalesces them (UDP receive offload); each is still
    // counted. Without the offload every datagram comes up alone.
    const int on = 1;
    if (data_ >= 0)
        ::setsockopt(data_, SOL_UDP, UDP_GRO, &on, sizeof(on));
    thread_ = std::thread([this] { run(); });
}

LoopbackUnit::~LoopbackUnit()
{
    stop_ = true;
    thread_.join();
    if (control_ >= 0)
        ::close(control_);
    if (data_ >= 0)
        ::close(data_);
}

void LoopbackUnit::run()
{
    constexpr int batch = 64;
    std::vector<std::vector<uint8_t>> buffers(batch, std::vector<uint8_t>(65536));
    std::vector<iovec> iov(batch);
    std::vector<mmsghdr> messages(batch);
    // Room for one UDP_GRO control message (the size of the joined datagrams).
    struct alignas(cmsghdr) Control {
        uint8_t bytes[CMSG_SPACE(sizeof(int))];
    };
    std::vector<Control> controls(batch);
    const auto prepare = [&](int i) {
        messages[i].msg_hdr.msg_control = controls[i].bytes;
        messages[i].msg_hdr.msg_controllen = sizeof(controls[i].bytes);
    };
    for (int i = 0; i < batch; ++i) {
        iov[i] = { buffers[i].data(), buffers[i].size() };
        messages[i].msg_hdr = {};
        messages[i].msg_hdr.msg_iov = &iov[i];
        messages[i].msg_hdr.msg_iovlen = 1;
        prepare(i);
    }
    // The size of each datagram joined in message i (its whole length when
    // it came alone).
    const auto segmentSize = [&](int i) {
        msghdr& h = messages[i].msg_hdr;
        for (cmsghdr* c = CMSG_FIRSTHDR(&h); c != nullptr; c = CMSG_NXTHDR(&h, c)) {
            if (c->cmsg_level == SOL_UDP && c->cmsg_type == UDP_GRO) {
                int size = 0;
                std::memcpy(&size, CMSG_DATA(c), sizeof(size));
                if (size > 0)
                    return static_cast<size_t>(size);
            }
        }
        return static_cast<size_t>(messages[i].msg_len);
    };
    sockaddr_in client{};
    bool haveClient = false;
    uint16_t lastPacket = 0;
    auto nextStatus = std::chrono::steady_clock::now();
    pollfd fds[2] = { { control_, POLLIN, 0 }, { data_, POLLIN, 0 } };
    // Drains the data socket; `count` tells whether the datagrams count
    // towards rx_packet_num.
    const auto drain = [&](bool count) {
        int n = 0;
        do {
            n = ::recvmmsg(data_, messages.data(), batch, MSG_DONTWAIT, nullptr);
            uint64_t datagrams = 0;
            for (int i = 0; i < n; ++i) {
                const size_t length = messages[i].msg_len;
                const size_t size = std::max<size_t>(segmentSize(i), 1);
                const size_t joined = length == 0 ? 1 : (length + size - 1) / size;
                datagrams += joined;
                // The last datagram joined carries the latest packet number.
                const size_t last = (joined - 1) * size;
                if (count && length >= last + sizeof(ReplaySensorMessageHeader)) {
                    ReplaySensorMessageHeader header;
                    std::memcpy(&header, buffers[i].data() + last, sizeof(header));
                    lastPacket = header.packetNumber;
                }
                prepare(i);
            }
            if (n > 0)
                received_.fetch_add(datagrams, std::memory_order_relaxed);
        } while (n == batch && !count);
    };
    while (!stop_) {
        ::poll(fds, 2, 1);
        if (fds[0].revents & POLLIN) {
            ReplayControlMessage request{};
            socklen_t length = sizeof(client);
            if (::recvfrom(control_, &request, sizeof(request), 0, reinterpret_cast<sockaddr*>(&client), &length) >=
                static_cast<ssize_t>(CONTROL_HEADER_LENGTH)) {
                haveClient = true;
                if (request.command == static_cast<uint16_t>(Command::ENABLE_CHANNEL)) {
                    // Enabling starts the channel's packet count afresh, as
                    // a unit does: what a previous registration sent
                    // (already queued on loopback) is dropped, and
                    // rx_packet_num starts from 0.
                    drain(false);
                    lastPacket = 0;
                }
                reply(request, client);
            }
        }
        if (fds[1].revents & POLLIN)
            drain(true);
        if (haveClient && std::chrono::steady_clock::now() >= nextStatus) {
            nextStatus += std::chrono::milliseconds(1);
            ReplayStatusMessage status = makeStatusMessage(0, RESPONSE_PERIODIC_STATUS, 0);
            status.payload.status.flags = STATUS_FLAG_ENABLED;
            status.payload.status.rx_packet_num = lastPacket;
            status.payload.status.free_fifo_entries = FIFO_ENTRIES;
            send(status, client);
        }
    }
}

void LoopbackUnit::reply(const ReplayControlMessage& request, const sockaddr_in& to)
{
    ReplayStatusMessage message = makeStatusMessage(request.channel_number, request.command, request.request_id);
    message.payload.buffer.total_fifo_entries = FIFO_ENTRIES;
    send(message, to);
}

void LoopbackUnit::send(const ReplayStatusMessage& message, const sockaddr_in& to)
{
    ::sendto(control_, &message, sizeof(message), 0, reinterpret_cast<const sockaddr*>(&to), sizeof(to));
}

} // namespace vxqir::bench
