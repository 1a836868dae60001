// ScriptedUnit.h - a small stand-in for a QIR unit on loopback, for tests.
#pragma once

#include "ReplayMessages.h"
#include "byte_io/Bytes.h"
#include "VXQIRApi.h"

#include <netinet/in.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace vxqir::test {

using qir::Bytes;

// One datagram as received by the unit.
struct Received {
    Bytes bytes;
    std::string senderIp;
    uint16_t senderPort = 0;
};

// Answers control requests on a control socket bound to controlIp (ephemeral
// port) and records sensor datagrams on a data socket bound to dataIp
// (ephemeral port, used as channel 0's data port).
//
// By default it answers like a unit: GET_BUFFER_SIZE with type 3 and
// fifoEntries, the GET_..._TIMESTAMP / GET_FRAME_SIZE requests with the values
// last set, every other command with its own value. A responder replaces
// that; returning nullopt means "no reply". Periodic status can be sent by
// hand (sendStatus) or automatically (startPeriodicStatus).
//
// Thread-safe: its own thread serves the sockets; tests call the rest.
class ScriptedUnit {
public:
    using Responder = std::function<std::optional<Bytes>(const ReplayControlMessage& request)>;

    explicit ScriptedUnit(std::string controlIp = "127.0.0.2", std::string dataIp = "127.0.0.3");
    ~ScriptedUnit();

    ScriptedUnit(const ScriptedUnit&) = delete;
    ScriptedUnit& operator=(const ScriptedUnit&) = delete;

    // A client configuration pointing at this unit (channel 0's data port is
    // the unit's data socket).
    VXTQirInputInterfaceT config(uint16_t maxPayloadSize = 1448, uint32_t timeoutGet_ms = 1000,
                                 uint32_t timeoutStream_ms = 1000) const;

    const std::string& controlIp() const { return controlIp_; }
    const std::string& dataIp() const { return dataIp_; }
    uint16_t controlPort() const { return controlPort_; }
    uint16_t dataPort() const { return dataPort_; }

    void setResponder(Responder responder);
    void setFifoEntries(uint32_t total) { fifoEntries_ = total; }

    // Builds the reply the default unit would send.
    Bytes defaultReply(const ReplayControlMessage& request);

    // Sends a periodic status for a channel to the latest requester.
    void sendStatus(uint8_t channel, uint16_t flags, uint16_t rxPacket, uint32_t freeEntries, uint64_t timeNs);
    // Sends raw bytes from the control socket to the latest requester (or to
    // the given address).
    void sendRaw(const Bytes& bytes);
    void sendRawTo(const Bytes& bytes, const sockaddr_in& to);

    // Keeps the flow control open: a status with this free count every period.
    void startPeriodicStatus(uint8_t channel, uint32_t freeEntries,
                             std::chrono::milliseconds period = std::chrono::milliseconds(5));
    void stopPeriodicStatus();

    // Waits until at least n requests (or data datagrams) arrived; returns a
    // copy of all received so far (possibly fewer after the timeout).
    std::vector<Received> waitForRequests(size_t n,
                                          std::chrono::milliseconds timeout = std::chrono::milliseconds(3000));
    std::vector<Received> waitForData(size_t n, std::chrono::milliseconds timeout = std::chrono::milliseconds(3000));
    std::vector<Received> requests();
    std::vector<Received> data();
    // The latest requester's address (the client's control socket).
    std::optional<sockaddr_in> client();

private:
    void serve();
    void periodic();
    void handleControl(Received request);

    const std::string controlIp_;
    const std::string dataIp_;
    int controlFd_ = -1;
    int dataFd_ = -1;
    uint16_t controlPort_ = 0;
    uint16_t dataPort_ = 0;
    std::atomic<uint32_t> fifoEntries_{ 100 };

    std::mutex mutex_;                     // guards everything below
    std::condition_variable changed_;      // a request or data datagram arrived
    std::condition_variable periodicWake_; // periodic status settings changed
    Responder responder_;
    std::vector<Received> requests_;
    std::vector<Received> data_;
    std::optional<sockaddr_in> client_;
    uint64_t offset_ = 0, start_ = 0, stop_ = 0;
    uint16_t width_ = 0, height_ = 0;
    bool periodicOn_ = false;
    uint8_t periodicChannel_ = 0;
    uint32_t periodicFree_ = 0;
    std::chrono::milliseconds periodicPeriod_{ 5 };

    std::atomic<bool> stop_flag_{ false };
    std::thread server_;
    std::thread periodic_;
};

// A status datagram of the given response type with a full 28-byte record.
Bytes makeStatus(uint8_t channel, uint16_t responseType, uint16_t responseId);

// Parses a recorded sensor datagram's header.
ReplaySensorMessageHeader sensorHeader(const Received& datagram);

} // namespace vxqir::test
