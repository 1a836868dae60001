// ReceiveWorker.h - a thread that receives the sensor datagrams of some
// channels in batches.
#pragma once

#include "ChecksumWorker.h"
#include "DatagramBatch.h"
#include "EmulatedChannel.h"
#include "PacketCapture.h"
#include "ProgressNotifier.h"
#include "WakeEvent.h"

#include <atomic>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace vxqir::sim {

/// Waits on the data sockets of its channels (epoll) and takes whatever is
/// queued with recvmmsg, many datagrams per call, handing each batch to its
/// channel and the frames completed by it to the checksum worker.
///
/// Thread-bound: addChannel and start from the owner before the thread
/// runs; stop from the owner. drainThen is thread-safe. The sockets and
/// channels are borrowed and must outlive the worker.
///
/// Lock order: receiveMutex_ before the channels' locks.
class ReceiveWorker {
public:
    /// `capture` (borrowed, may be null) records every datagram taken.
    ReceiveWorker(ChecksumWorker& checksums, ProgressNotifier& progress, PacketCapture* capture = nullptr);
    /// Stops and joins the thread.
    ~ReceiveWorker();
    ReceiveWorker(const ReceiveWorker&) = delete;
    ReceiveWorker& operator=(const ReceiveWorker&) = delete;

    /// Throws std::system_error when the socket cannot be watched.
    void addChannel(int socketFd, EmulatedChannel& channel);
    void start();
    /// Wakes the thread and joins it. Datagrams already queued at the
    /// sockets are taken and verified first (up to a bound).
    void stop();

    /// Takes and verifies what is queued at `channel`'s data socket, then
    /// runs `apply` before any later datagram of the channel is taken. A
    /// control request applied this way sees every datagram that arrived
    /// before it, and none that arrived after: data and control are ordered
    /// by arrival. Thread-safe (the control thread calls it).
    void drainThen(const EmulatedChannel& channel, const std::function<void()>& apply);

private:
    struct Source {
        int fd;
        EmulatedChannel* channel;
        Ipv4Endpoint local; // the socket's address, for the capture
    };

    void run();
    void drainSource(const Source& source, int maxBatches);

    ChecksumWorker& checksums_;
    ProgressNotifier& progress_;
    PacketCapture* const capture_;
    int epollFd_;
    WakeEvent wake_;
    std::vector<Source> sources_;
    // Held while datagrams are taken from a socket and handed to their
    // channel; guards batch_, received_ and completed_.
    std::mutex receiveMutex_;
    DatagramBatch batch_;
    std::vector<ReceivedDatagram> received_;
    std::vector<CompletedFrame> completed_;
    // Relaxed would do for the flag alone; release/acquire keeps the rule
    // simple: whatever the stopper wrote before is visible after the check.
    std::atomic<bool> stopping_{ false };
    std::thread thread_;
};

} // namespace vxqir::sim
