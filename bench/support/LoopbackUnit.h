// LoopbackUnit.h - the receiving end of the sending benchmarks: UDP sockets
// on loopback and a minimal unit that keeps flow control open.
#pragma once

#include "ReplayMessages.h"
#include "VXQIRApi.h"

#include <netinet/in.h>

#include <atomic>
#include <cstdint>
#include <thread>

namespace vxqir::bench {

/// A UDP socket bound to `ip` on a free port (returned in `port`), with a
/// receive buffer of `receiveBuffer` bytes when that is above zero (forced
/// beyond the system limit where allowed). -1 when it cannot be bound.
int bindUdp(const char* ip, uint16_t& port, int receiveBuffer);

/// Channel settings for a unit on loopback: control on 127.0.0.2 at
/// `controlPort`, data on 127.0.0.3 from `dataBasePort`, the host's control
/// socket on 127.0.0.1 at a port the system chooses, and the given payload
/// size and time limits.
inline VXTQirInputInterfaceT loopbackChannelConfig(uint16_t controlPort, uint16_t dataBasePort, uint16_t maxPayloadSize,
                                                   uint32_t timeoutGetMs, uint32_t timeoutStreamMs)
{
    VXTQirInputInterfaceT config{};
    config.controlIP = "127.0.0.2";
    config.controlPort = controlPort;
    config.dataIP = "127.0.0.3";
    config.dataBasePort = dataBasePort;
    config.localIP = "127.0.0.1";
    config.localPort = 0;
    config.maxPayloadSize = maxPayloadSize;
    config.timeoutGet_ms = timeoutGetMs;
    config.timeoutStream_ms = timeoutStreamMs;
    return config;
}

/// A minimal unit on 127.0.0.2 (control) and 127.0.0.3 (data): answers
/// every control request with its own command (GET requests with the buffer
/// size), drains sensor datagrams (with UDP receive offload, as a unit's
/// network card coalesces them) and, once a client spoke, reports free
/// FIFO entries and the latest packet number every millisecond. Enabling the
/// channel starts the packet number afresh, as a unit does.
class LoopbackUnit {
public:
    /// As many as the emulated unit has (qir-unit-sim's default). The
    /// client keeps at most 80 % of them in flight until a status
    /// acknowledges them, so this sets how much a sender may have under way:
    /// the 1000 this had before held the component to about 460 frames/s of
    /// 1080 lines, where 2048 gives about 540 on the same machine.
    static constexpr uint32_t FIFO_ENTRIES = 2048;

    LoopbackUnit();
    ~LoopbackUnit();
    LoopbackUnit(const LoopbackUnit&) = delete;
    LoopbackUnit& operator=(const LoopbackUnit&) = delete;

    uint16_t controlPort() const { return controlPort_; }
    uint16_t dataPort() const { return dataPort_; }
    /// Sensor datagrams received so far (each of a run the kernel joined
    /// with UDP receive offload counted).
    uint64_t received() const { return received_.load(std::memory_order_relaxed); }

private:
    void run();
    void reply(const ReplayControlMessage& request, const sockaddr_in& to);
    void send(const ReplayStatusMessage& message, const sockaddr_in& to);

    int control_ = -1, data_ = -1;
    uint16_t controlPort_ = 0, dataPort_ = 0;
    std::atomic<bool> stop_{ false };
    std::atomic<uint64_t> received_{ 0 };
    std::thread thread_;
};

} // namespace vxqir::bench
