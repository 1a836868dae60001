// UnitEmulator.h - one emulated QIR unit on loopback (or any local address).
#pragma once

#include "ChecksumWorker.h"
#include "ControlLoop.h"
#include "DataPortRange.h"
#include "EmulatedChannel.h"
#include "EmulatorConfig.h"
#include "EmulatorStats.h"
#include "ProgressNotifier.h"
#include "ReceiveWorker.h"
#include "ReplyFaultSettings.h"
#include "UdpSocket.h"

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace vxqir::sim {

/// Serves the unit's side of the protocol for channels 0..N-1: a control
/// socket that answers requests and sends periodic status, and one data
/// socket per channel whose datagrams are verified and fed to the channel's
/// replay FIFO.
///
/// Threads: one control thread, up to four receive threads, one checksum
/// thread. Usage:
///
///   UnitEmulator unit(config);   // validates the configuration
///   unit.start();                // binds, then serves
///   ... unit.controlPort(), unit.dataBasePort(), unit.snapshot() ...
///   unit.stop();                 // or the destructor
///
/// Thread-safe, except start() and the add...Observer() calls, which are
/// thread-bound to the owner before serving begins. Fault injection,
/// snapshots and waits may come from any thread while it serves.
///
/// Locks: each channel's lock, the checksum worker's, the control counters'
/// and the reply faults' guard only their own object, and no two of them are
/// ever held at once. The one order to keep: a receive worker's lock comes
/// before the locks of its channels (the control thread applies a request
/// under the worker's lock, after taking what arrived before it).
class UnitEmulator {
public:
    /// Throws std::invalid_argument naming the setting that is out of range.
    explicit UnitEmulator(EmulatorConfig config);
    /// Stops serving.
    ~UnitEmulator();
    UnitEmulator(const UnitEmulator&) = delete;
    UnitEmulator& operator=(const UnitEmulator&) = delete;

    /// Observes every checksummed frame on the checksum thread with its
    /// FNV-1a checksum, which is then computed for every frame (about a
    /// nanosecond per byte). Before start().
    void addFrameObserver(FrameObserver observer);
    /// Observes every checksummed frame on the checksum thread with its
    /// digest (FrameDigest), which costs a small part of that. Before start().
    void addDigestObserver(DigestObserver observer);

    /// Binds the control socket and the data ports, then starts serving.
    /// Throws SocketSetupError naming the address and the reason.
    void start();

    /// Stops every thread, ends open frames (counted incomplete) and waits
    /// for pending checksums. Idempotent; the counters stay readable.
    void stop();

    const EmulatorConfig& config() const { return config_; }
    /// The bound ports; valid after start().
    uint16_t controlPort() const { return controlPort_; }
    uint16_t dataBasePort() const { return dataPorts_.basePort; }
    uint16_t dataPort(unsigned channel) const { return static_cast<uint16_t>(dataPorts_.basePort + channel); }
    /// With EmulatorConfig::controlPortPreferred, dataPortsPreferred: whether
    /// the control port, the data range, were in use and replaced by free
    /// ones. Valid after start.
    bool controlPortReplaced() const { return controlPortReplaced_; }
    bool dataPortsReplaced() const { return dataPortsReplaced_; }
    /// Receive buffer the kernel granted each data socket, in bytes.
    int receiveBufferBytes() const { return receiveBufferBytes_; }

    /// Every counter, and each channel's checksum of its latest complete
    /// frame, computed here for a frame whose checksum nobody read before.
    EmulatorSnapshot snapshot() const;
    /// As snapshot() but without the checksums (lastChecksum empty), so it
    /// costs no hashing: for progress lines and polls during a run.
    EmulatorSnapshot counters() const;

    /// Waits until `predicate(snapshot())` holds; false after `timeout`.
    bool waitUntil(const std::function<bool(const EmulatorSnapshot&)>& predicate, std::chrono::milliseconds timeout);

    /// Waits until every frame counted complete so far has its checksum (or
    /// was passed over).
    void drainChecksums();

    // Fault injection. Channel arguments out of range throw std::out_of_range.
    void setReplyDropShare(double share); ///< 0..1, else std::invalid_argument
    void setReplyDelay(std::chrono::milliseconds delay);
    void setWrongResponseType(bool on);
    void setStatusStopped(bool stopped); ///< every channel
    void setStatusStopped(unsigned channel, bool stopped);
    void setChannelAvailable(unsigned channel, bool available);
    void freezeFifo(unsigned channel);
    void releaseFifo(unsigned channel);
    void freezeAllFifos();
    void releaseAllFifos();

private:
    EmulatedChannel& channel(unsigned index) const;
    EmulatorSnapshot takeSnapshot(bool withChecksums) const;

    EmulatorConfig config_;
    std::shared_ptr<const UnitClock> clock_;
    ProgressNotifier progress_;
    ReplyFaultSettings replyFaults_;
    std::vector<std::unique_ptr<EmulatedChannel>> channels_;
    ChecksumWorker checksums_;

    UdpSocket controlSocket_;
    uint16_t controlPort_ = 0;
    bool controlPortReplaced_ = false;
    bool dataPortsReplaced_ = false;
    DataPortRange dataPorts_;
    int receiveBufferBytes_ = 0;
    std::unique_ptr<ControlLoop> control_;
    std::vector<std::unique_ptr<ReceiveWorker>> receivers_;

    std::mutex lifecycleMutex_; // serialises start() and stop()
    bool started_ = false;
    bool stopped_ = false;
};

} // namespace vxqir::sim
