// ControlLoop.h - the unit's control thread: answers requests, sends
// delayed replies and periodic status messages.
#pragma once

#include "DatagramBatch.h"
#include "EmulatedChannel.h"
#include "EmulatorStats.h"
#include "PacketCapture.h"
#include "ProgressNotifier.h"
#include "ReplyFaultSettings.h"
#include "UdpSocket.h"
#include "WakeEvent.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <queue>
#include <random>
#include <thread>
#include <vector>

namespace vxqir::sim {

/// Serves the control socket. Every reply and status message leaves from
/// this socket, so the client sees the unit's control address as sender.
/// Requests for channels the unit does not serve are answered with the
/// not-available response type.
///
/// Thread-safe: snapshot from any thread; start and stop from the owner.
/// The socket, channels, fault settings and notifier are borrowed and must
/// outlive the loop.
class ControlLoop {
public:
    using Channels = std::vector<std::unique_ptr<EmulatedChannel>>;
    /// Runs `apply` for channel `index` once every datagram that reached the
    /// channel's data socket before has been taken (ReceiveWorker::drainThen).
    using InArrivalOrder = std::function<void(unsigned index, const std::function<void()>& apply)>;

    /// `statusDelay` holds every periodic status back that long after it was
    /// taken (a unit whose status lags, or a link with latency); 0 sends at
    /// once. `inArrivalOrder` may be empty: requests are then applied at once.
    /// `capture` (borrowed, may be null) records every datagram received on
    /// the socket and every one sent from it.
    ControlLoop(const UdpSocket& socket, const Channels& channels, const ReplyFaultSettings& faults,
                std::chrono::milliseconds statusPeriod, uint64_t seed, ProgressNotifier& progress,
                std::chrono::milliseconds statusDelay = std::chrono::milliseconds(0),
                InArrivalOrder inArrivalOrder = {}, PacketCapture* capture = nullptr);
    ~ControlLoop();
    ControlLoop(const ControlLoop&) = delete;
    ControlLoop& operator=(const ControlLoop&) = delete;

    void start();
    /// Wakes and joins the thread; delayed replies not yet due are dropped.
    void stop();

    ControlSnapshot snapshot() const;

private:
    using Clock = std::chrono::steady_clock;
    struct PendingReply {
        Clock::time_point due;
        uint64_t order; // keeps replies of equal due time in arrival order
        ReplayStatusMessage message;
        Ipv4Endpoint destination;
        bool periodicStatus = false;
        bool operator>(const PendingReply& other) const
        {
            return due != other.due ? due > other.due : order > other.order;
        }
    };

    void run();
    void serveRequests();
    /// `datagram` is the request as received, for the capture.
    void answer(const ControlRequest& request, const Ipv4Endpoint& sender, const ReceivedDatagram& datagram);
    void sendDueReplies(Clock::time_point now);
    void sendStatus();
    void send(const ReplayStatusMessage& message, const Ipv4Endpoint& to, uint64_t ControlSnapshot::*sentCounter);

    const UdpSocket& socket_;
    const Channels& channels_;
    const ReplyFaultSettings& faults_;
    const std::chrono::milliseconds statusPeriod_;
    const std::chrono::milliseconds statusDelay_;
    const InArrivalOrder inArrivalOrder_;
    ProgressNotifier& progress_;
    PacketCapture* const capture_;
    const Ipv4Endpoint local_; // the socket's address, for the capture

    // Used by the control thread only.
    std::mt19937_64 random_;
    DatagramBatch batch_;
    std::priority_queue<PendingReply, std::vector<PendingReply>, std::greater<>> delayed_;
    uint64_t nextOrder_ = 0;

    mutable std::mutex countersMutex_; // guards counters_ (written by the control thread)
    ControlSnapshot counters_;

    WakeEvent wake_;
    std::atomic<bool> stopping_{ false }; // release/acquire: see ReceiveWorker
    std::thread thread_;
};

} // namespace vxqir::sim
