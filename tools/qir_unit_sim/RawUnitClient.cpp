#include "RawUnitClient.h"

#include "Fnv1a64.h"

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace vxqir::sim::testing {

std::vector<uint8_t> makeSensorDatagram(uint16_t frame, uint16_t line, uint16_t packetNumber, uint8_t flags,
                                        std::span<const uint8_t> payload, uint64_t timestamp)
{
    ReplaySensorMessageHeader h{};
    h.frameNumber = frame;
    h.lineNumber = line;
    h.payloadSize = static_cast<uint16_t>(payload.size());
    h.version = QIR_PROTOCOL_VERSION;
    h.flags = flags;
    h.packetNumber = packetNumber;
    h.timestamp = timestamp;
    std::vector<uint8_t> out(sizeof(h) + payload.size());
    std::memcpy(out.data(), &h, sizeof(h));
    std::copy(payload.begin(), payload.end(), out.begin() + sizeof(h));
    return out;
}

std::vector<uint8_t> patternLine(uint16_t frame, uint16_t line, size_t width)
{
    std::vector<uint8_t> out(width);
    for (size_t i = 0; i < width; ++i)
        out[i] = static_cast<uint8_t>((frame * 7u + line * 3u + i) & 0xFF);
    return out;
}

uint64_t patternFrameChecksum(uint16_t frame, uint16_t height, size_t width)
{
    Fnv1a64 hash;
    for (uint16_t l = 0; l < height; ++l)
        hash.update(patternLine(frame, l, width));
    return hash.value();
}

RawUnitClient::RawUnitClient(Ipv4Endpoint control, Ipv4Endpoint dataBase)
    : control_(control)
    , dataBase_(dataBase)
    , socket_(UdpSocket::bound(*Ipv4Endpoint::parse("127.0.0.1", 0)))
{
    const int big = 8 << 20;
    ::setsockopt(socket_.fd(), SOL_SOCKET, SO_SNDBUF, &big, sizeof(big));
}

Ipv4Endpoint RawUnitClient::local() const
{
    return { Ipv4Endpoint::parse("127.0.0.1", 0)->address, socket_.localPort() };
}

void RawUnitClient::send(const ReplayControlMessage& request)
{
    sendControlBytes({ reinterpret_cast<const uint8_t*>(&request), request.packet_length });
}

void RawUnitClient::sendControlBytes(std::span<const uint8_t> bytes)
{
    if (socket_.sendTo(bytes, control_) != 0)
        throw std::runtime_error("test client: sending a control datagram failed");
}

void RawUnitClient::sendData(uint8_t channel, std::span<const uint8_t> bytes)
{
    const Ipv4Endpoint to{ dataBase_.address, static_cast<uint16_t>(dataBase_.port + channel) };
    // The socket is non-blocking: wait for room instead of losing datagrams
    // on the sending side, which would look like a gap at the emulator.
    for (;;) {
        const int error = socket_.sendTo(bytes, to);
        if (error == 0)
            return;
        if (error != EAGAIN && error != ENOBUFS)
            throw std::runtime_error(std::string("test client: sending sensor data failed: ") + std::strerror(error));
        pollfd p{ socket_.fd(), POLLOUT, 0 };
        ::poll(&p, 1, 100);
    }
}

std::optional<ReceivedStatus> RawUnitClient::request(Command command, uint8_t channel,
                                                     std::chrono::milliseconds timeout,
                                                     void (*fill)(ReplayControlMessage&))
{
    ReplayControlMessage m = makeControlMessage(channel, command, nextRequestId_++);
    if (fill != nullptr)
        fill(m);
    return request(m, timeout);
}

std::optional<ReceivedStatus> RawUnitClient::request(const ReplayControlMessage& request,
                                                     std::chrono::milliseconds timeout)
{
    send(request);
    return receiveMatching(timeout, [&](const ReplayStatusMessage& m) {
        return m.response_type != RESPONSE_PERIODIC_STATUS && m.response_id == request.request_id;
    });
}

std::optional<ReceivedStatus>
RawUnitClient::receiveMatching(std::chrono::milliseconds timeout,
                               const std::function<bool(const ReplayStatusMessage&)>& wanted)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return std::nullopt;
        auto r = receive(left);
        if (!r)
            return std::nullopt;
        if (wanted(r->message))
            return r;
    }
}

std::optional<ReceivedStatus> RawUnitClient::receive(std::chrono::milliseconds timeout)
{
    pollfd p{ socket_.fd(), POLLIN, 0 };
    if (::poll(&p, 1, static_cast<int>(timeout.count())) <= 0)
        return std::nullopt;
    uint8_t buffer[IP_PACKET_LENGTH];
    sockaddr_in from{};
    socklen_t fromLength = sizeof(from);
    const ssize_t n =
        ::recvfrom(socket_.fd(), buffer, sizeof(buffer), 0, reinterpret_cast<sockaddr*>(&from), &fromLength);
    if (n < 0)
        return std::nullopt;
    ReceivedStatus r;
    r.message = statusRecordFromDatagram(buffer, static_cast<size_t>(n));
    r.length = static_cast<size_t>(n);
    r.sender = Ipv4Endpoint::fromSockaddr(from);
    return r;
}

std::optional<ReceivedStatus> RawUnitClient::receivePeriodic(uint8_t channel, std::chrono::milliseconds timeout)
{
    return receiveMatching(timeout, [&](const ReplayStatusMessage& m) {
        return m.response_type == RESPONSE_PERIODIC_STATUS && m.channel == channel;
    });
}

void RawUnitClient::sendPatternFrame(uint8_t channel, uint16_t frame, uint16_t height, size_t width, size_t maxPayload,
                                     uint16_t& packetNumber)
{
    for (uint16_t line = 0; line < height; ++line) {
        const std::vector<uint8_t> bytes = patternLine(frame, line, width);
        size_t sent = 0;
        do {
            size_t size = std::min(bytes.size() - sent, maxPayload);
            const bool last = sent + size >= bytes.size();
            if (!last)
                size -= size % 8;
            uint8_t flags = 0;
            if (last)
                flags |= SENSOR_FLAG_END_OF_LINE;
            if (last && line == height - 1)
                flags |= SENSOR_FLAG_END_OF_FRAME;
            const auto d = makeSensorDatagram(frame, line, packetNumber++, flags, std::span(bytes).subspan(sent, size));
            sendData(channel, d);
            sent += size;
        } while (sent < bytes.size());
    }
}

} // namespace vxqir::sim::testing
