// RawUnitClient.h - speaks to the emulator with hand-built datagrams, the
// way a client of the unit would, for tests and benchmarks.
#pragma once

#include "Ipv4Endpoint.h"
#include "ReplayMessages.h"
#include "UdpSocket.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

namespace vxqir::sim::testing {

/// The value of a field of a packed wire record. GoogleTest's assertions
/// take their arguments by reference, which a packed field cannot safely
/// give: pass `field(record.member)` instead.
template <typename T>
constexpr T field(T value)
{
    return value;
}

/// A status datagram as received, with its sender.
struct ReceivedStatus {
    ReplayStatusMessage message{};
    size_t length = 0;
    Ipv4Endpoint sender;
};

/// Bytes of a sensor datagram with the given header fields and payload;
/// payloadSize and version are filled in.
std::vector<uint8_t> makeSensorDatagram(uint16_t frame, uint16_t line, uint16_t packetNumber, uint8_t flags,
                                        std::span<const uint8_t> payload, uint64_t timestamp = 0);

/// The test pattern of the example sender: byte i of line l of frame f is
/// (f*7 + l*3 + i) & 0xFF.
std::vector<uint8_t> patternLine(uint16_t frame, uint16_t line, size_t width);

/// FNV-1a 64 of a whole frame of the test pattern.
uint64_t patternFrameChecksum(uint16_t frame, uint16_t height, size_t width);

/// A UDP socket on 127.0.0.1 (port chosen by the system) that sends
/// requests and sensor data to an emulator and receives its status
/// datagrams. Thread-bound.
class RawUnitClient {
public:
    RawUnitClient(Ipv4Endpoint control, Ipv4Endpoint dataBase);

    Ipv4Endpoint local() const;

    /// Sends the first packet_length bytes of `request`.
    void send(const ReplayControlMessage& request);
    /// Sends raw bytes to the control port.
    void sendControlBytes(std::span<const uint8_t> bytes);
    /// Sends raw bytes to channel `channel`'s data port.
    void sendData(uint8_t channel, std::span<const uint8_t> bytes);

    /// Sends one request and returns the first reply (not a periodic status)
    /// that carries its request id, or nullopt after `timeout`.
    std::optional<ReceivedStatus> request(Command command, uint8_t channel,
                                          std::chrono::milliseconds timeout = std::chrono::seconds(5),
                                          void (*fill)(ReplayControlMessage&) = nullptr);
    std::optional<ReceivedStatus> request(const ReplayControlMessage& request,
                                          std::chrono::milliseconds timeout = std::chrono::seconds(5));

    /// Next status datagram of any kind, or nullopt after `timeout`.
    std::optional<ReceivedStatus> receive(std::chrono::milliseconds timeout);
    /// Next periodic status of `channel`, skipping everything else.
    std::optional<ReceivedStatus> receivePeriodic(uint8_t channel, std::chrono::milliseconds timeout);
    /// Receives until a status message satisfies `wanted` or the timeout passes.
    std::optional<ReceivedStatus> receiveMatching(std::chrono::milliseconds timeout,
                                                  const std::function<bool(const ReplayStatusMessage&)>& wanted);

    /// Sends one frame of the test pattern on `channel`, one block per line,
    /// each line cut into datagrams of at most `maxPayload` bytes (all but the
    /// last a multiple of 8), end of line on each block's last datagram and
    /// end of frame on the last line. Advances `packetNumber`.
    void sendPatternFrame(uint8_t channel, uint16_t frame, uint16_t height, size_t width, size_t maxPayload,
                          uint16_t& packetNumber);

private:
    Ipv4Endpoint control_;
    Ipv4Endpoint dataBase_;
    UdpSocket socket_;
    uint16_t nextRequestId_ = 1;
};

} // namespace vxqir::sim::testing
