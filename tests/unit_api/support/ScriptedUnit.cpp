#include "ScriptedUnit.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <stdexcept>

namespace vxqir::test {

namespace {

int bindUdp(const std::string& ip, uint16_t& port)
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0)
        throw std::runtime_error("socket failed");
    const int size = 8 << 20;
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof(size));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = 0;
    ::inet_pton(AF_INET, ip.c_str(), &address.sin_addr);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
        ::close(fd);
        throw std::runtime_error("bind to " + ip + " failed");
    }
    socklen_t length = sizeof(address);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    port = ntohs(address.sin_port);
    return fd;
}

Received receiveOne(int fd)
{
    static thread_local std::vector<uint8_t> buffer(70000);
    Received datagram;
    sockaddr_in sender{};
    socklen_t length = sizeof(sender);
    const ssize_t n =
        ::recvfrom(fd, buffer.data(), buffer.size(), MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&sender), &length);
    if (n > 0)
        datagram.bytes.assign(buffer.begin(), buffer.begin() + n);
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &sender.sin_addr, text, sizeof(text));
    datagram.senderIp = text;
    datagram.senderPort = ntohs(sender.sin_port);
    return datagram;
}

} // namespace

Bytes makeStatus(uint8_t channel, uint16_t responseType, uint16_t responseId)
{
    const ReplayStatusMessage message = makeStatusMessage(channel, responseType, responseId);
    const auto* raw = reinterpret_cast<const uint8_t*>(&message);
    return Bytes(raw, raw + sizeof(message));
}

ReplaySensorMessageHeader sensorHeader(const Received& datagram)
{
    ReplaySensorMessageHeader header{};
    if (datagram.bytes.size() >= sizeof(header))
        std::memcpy(&header, datagram.bytes.data(), sizeof(header));
    return header;
}

ScriptedUnit::ScriptedUnit(std::string controlIp, std::string dataIp)
    : controlIp_(std::move(controlIp))
    , dataIp_(std::move(dataIp))
{
    controlFd_ = bindUdp(controlIp_, controlPort_);
    dataFd_ = bindUdp(dataIp_, dataPort_);
    server_ = std::thread([this] { serve(); });
    periodic_ = std::thread([this] { periodic(); });
}

ScriptedUnit::~ScriptedUnit()
{
    {
        std::lock_guard lock(mutex_);
        stop_flag_ = true;
    }
    changed_.notify_all();
    periodicWake_.notify_all();
    server_.join();
    periodic_.join();
    ::close(controlFd_);
    ::close(dataFd_);
}

VXTQirInputInterfaceT ScriptedUnit::config(uint16_t maxPayloadSize, uint32_t timeoutGet_ms,
                                           uint32_t timeoutStream_ms) const
{
    VXTQirInputInterfaceT c{};
    c.controlIP = controlIp_.c_str();
    c.controlPort = controlPort_;
    c.dataIP = dataIp_.c_str();
    c.dataBasePort = dataPort_;
    c.localIP = "127.0.0.1";
    c.localPort = 0;
    c.maxPayloadSize = maxPayloadSize;
    c.timeoutGet_ms = timeoutGet_ms;
    c.timeoutStream_ms = timeoutStream_ms;
    return c;
}

void ScriptedUnit::setResponder(Responder responder)
{
    std::lock_guard lock(mutex_);
    responder_ = std::move(responder);
}

Bytes ScriptedUnit::defaultReply(const ReplayControlMessage& request)
{
    const auto command = static_cast<Command>(request.command);
    Bytes reply = makeStatus(request.channel_number, request.command, request.request_id);
    auto* message = reinterpret_cast<ReplayStatusMessage*>(reply.data());
    std::lock_guard lock(mutex_);
    switch (command) {
    case Command::GET_BUFFER_SIZE:
        message->payload.buffer.total_buffer_size = fifoEntries_ * 4096;
        message->payload.buffer.total_fifo_entries = fifoEntries_;
        break;
    case Command::SET_OFFSET_TIMESTAMP:
        offset_ = request.payload.ts;
        break;
    case Command::SET_START_TIMESTAMP:
        start_ = request.payload.ts;
        break;
    case Command::SET_STOP_TIMESTAMP:
        stop_ = request.payload.ts;
        break;
    case Command::GET_OFFSET_TIMESTAMP:
        message->payload.timestamp = offset_;
        break;
    case Command::GET_START_TIMESTAMP:
        message->payload.timestamp = start_;
        break;
    case Command::GET_STOP_TIMESTAMP:
        message->payload.timestamp = stop_;
        break;
    case Command::SET_FRAME_SIZE:
        width_ = request.payload.frameSize.width;
        height_ = request.payload.frameSize.height;
        break;
    case Command::GET_FRAME_SIZE:
        message->payload.frameSize.width = width_;
        message->payload.frameSize.height = height_;
        break;
    default:
        break;
    }
    return reply;
}

void ScriptedUnit::handleControl(Received request)
{
    ReplayControlMessage message{};
    std::memcpy(&message, request.bytes.data(), std::min(request.bytes.size(), sizeof(message)));
    sockaddr_in from{};
    from.sin_family = AF_INET;
    from.sin_port = htons(request.senderPort);
    ::inet_pton(AF_INET, request.senderIp.c_str(), &from.sin_addr);

    Responder responder;
    {
        std::lock_guard lock(mutex_);
        client_ = from;
        requests_.push_back(std::move(request));
        responder = responder_;
    }
    changed_.notify_all();

    const std::optional<Bytes> reply = responder ? responder(message) : defaultReply(message);
    if (reply)
        sendRawTo(*reply, from);
}

void ScriptedUnit::serve()
{
    pollfd fds[2] = { { controlFd_, POLLIN, 0 }, { dataFd_, POLLIN, 0 } };
    while (!stop_flag_) {
        if (::poll(fds, 2, 5) <= 0)
            continue;
        if (fds[0].revents & POLLIN)
            handleControl(receiveOne(controlFd_));
        if (fds[1].revents & POLLIN) {
            for (int i = 0; i < 64; ++i) {
                Received datagram = receiveOne(dataFd_);
                if (datagram.bytes.empty())
                    break;
                {
                    std::lock_guard lock(mutex_);
                    data_.push_back(std::move(datagram));
                }
                changed_.notify_all();
            }
        }
    }
}

void ScriptedUnit::periodic()
{
    std::unique_lock lock(mutex_);
    while (!stop_flag_) {
        periodicWake_.wait_for(lock, periodicPeriod_);
        if (!periodicOn_ || !client_)
            continue;
        const uint8_t channel = periodicChannel_;
        const uint32_t free = periodicFree_;
        const uint16_t rx = data_.empty() ? 0 : sensorHeader(data_.back()).packetNumber;
        lock.unlock();
        sendStatus(channel, STATUS_FLAG_ENABLED, rx, free, 1);
        lock.lock();
    }
}

void ScriptedUnit::sendStatus(uint8_t channel, uint16_t flags, uint16_t rxPacket, uint32_t freeEntries, uint64_t timeNs)
{
    Bytes status = makeStatus(channel, RESPONSE_PERIODIC_STATUS, 0);
    auto* message = reinterpret_cast<ReplayStatusMessage*>(status.data());
    message->payload.status.flags = flags;
    message->payload.status.rx_packet_num = rxPacket;
    message->payload.status.free_fifo_entries = freeEntries;
    message->payload.status.currenttime_ns = timeNs;
    sendRaw(status);
}

void ScriptedUnit::sendRaw(const Bytes& bytes)
{
    const std::optional<sockaddr_in> to = client();
    if (to)
        sendRawTo(bytes, *to);
}

void ScriptedUnit::sendRawTo(const Bytes& bytes, const sockaddr_in& to)
{
    ::sendto(controlFd_, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof(to));
}

void ScriptedUnit::startPeriodicStatus(uint8_t channel, uint32_t freeEntries, std::chrono::milliseconds period)
{
    {
        std::lock_guard lock(mutex_);
        periodicOn_ = true;
        periodicChannel_ = channel;
        periodicFree_ = freeEntries;
        periodicPeriod_ = period;
    }
    periodicWake_.notify_all();
}

void ScriptedUnit::stopPeriodicStatus()
{
    std::lock_guard lock(mutex_);
    periodicOn_ = false;
}

std::vector<Received> ScriptedUnit::waitForRequests(size_t n, std::chrono::milliseconds timeout)
{
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, timeout, [&] { return requests_.size() >= n; });
    return requests_;
}

std::vector<Received> ScriptedUnit::waitForData(size_t n, std::chrono::milliseconds timeout)
{
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, timeout, [&] { return data_.size() >= n; });
    return data_;
}

std::vector<Received> ScriptedUnit::requests()
{
    std::lock_guard lock(mutex_);
    return requests_;
}

std::vector<Received> ScriptedUnit::data()
{
    std::lock_guard lock(mutex_);
    return data_;
}

std::optional<sockaddr_in> ScriptedUnit::client()
{
    std::lock_guard lock(mutex_);
    return client_;
}

} // namespace vxqir::test
