// ChannelCommunication.h - the protocol engine of one output channel.
#pragma once

#include "ChannelKey.h"
#include "QIRBufferNotifier.h"
#include "ReplayMessages.h"
#include "SensorDatagramSender.h"
#include "SocketHandle.h"
#include "VXQIRApi.h"
#include "VXQIRApiProgress.h"
#include "VXQIRBatch.h"

#include <netinet/in.h>

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace vxqir {

// Raised by the ChannelState constructor when the channel's data socket
// cannot be opened (for example when the process is out of descriptors).
// Registration turns it into DataSocketError. A plain tag without a
// vtable: it is raised exactly when the process may be unable to open
// anything, so nothing in raising it should need more than memory.
struct DataSocketUnavailable { };

// One output channel of one QIR unit.
//
// Sends the channel's control requests from the shared control socket of its
// local endpoint and waits for the matching replies, keeps the status that
// the unit reports periodically, and cuts blocks of sensor data into sensor
// datagrams on its own data socket under the unit's flow control.
//
// Thread-safety: control operations and getCurrentState are thread-safe.
// processStatusMessage runs on the listener thread. sendReplayData is
// thread-bound: the blocks of one channel must come from one thread at a
// time (its datagram buffer and packet counter are not locked); it may run
// concurrently with control operations and status delivery.
//
// Lock order: no operation holds two of requests_mutex_, qir_state_mutex_
// and the notifier's mutex at once. Callers may hold the API core's
// interface lock (listener, destruction) but never wait for a reply with it.
class ChannelState {
public:
    // Copies what it needs of the (validated) configuration and opens the
    // data socket. controlSocket is shared with the local endpoint and stays
    // open for as long as this channel lives. Raises DataSocketUnavailable
    // when the data socket cannot be opened; nothing is sent then.
    ChannelState(const VXTQirInputInterfaceT& inputInterface, VXTQirChannelNumber channelIndex,
                 std::shared_ptr<const SocketHandle> controlSocket);

    // Tells the unit to disable replay and status messages for the channel
    // without waiting for replies, then closes the data socket.
    ~ChannelState();

    ChannelState(const ChannelState&) = delete;
    ChannelState& operator=(const ChannelState&) = delete;

    // Frame size, enable replay, enable status messages, read the FIFO size;
    // stops at the first failure.
    VXTQirError initReplay(uint16_t width, uint16_t height) const;

    // Delivers one accepted status datagram. Listener thread.
    void processStatusMessage(const ReplayStatusMessage& message);

    // Copies the latest periodic status; DataNotAvailable before the first.
    VXTQirError getCurrentState(VXTQirStatusT& status) const;

    // What was sent on the channel and what the unit acknowledged of it, with
    // the latest status and its age on the steady clock `now`. One
    // consistent snapshot. Thread-safe.
    VXTQirChannelProgressT progress(std::chrono::steady_clock::time_point now) const;

    // Sends one block under flow control. msg carries frame and line number,
    // stream id, timestamp and version; payload size, packet number and the
    // end marks are filled per datagram. Thread-bound (see class comment).
    VXTQirError sendReplayData(ReplaySensorMessageHeader& msg, const uint8_t* payload, uint16_t payload_size) const;

    // Sends a run of blocks, in order, with as few system calls as the
    // kernel allows (see SensorDatagramSender); the datagrams on the wire
    // are those that one sendReplayData per block would send, and each block
    // passes the same flow control: a run leaves together only as far as
    // the free entries (less the blocks ahead of it in the run) and the
    // packet window allow every block, the rest waits as a single block
    // would. Returns at the first failure; blocksSent tells how many blocks
    // from the first on were sent whole (on Timeout the next one was not
    // begun, so a retry starts there). No allocation. Thread-bound, like
    // sendReplayData.
    VXTQirError sendReplayBlocks(std::span<const ReplayBlock> blocks, size_t& blocksSent) const;

    // The sending method in use, and a limit on it (tests, kernels known to
    // refuse offload). Thread-bound, like sendReplayBlocks.
    SensorDatagramSender::Mode sendMode() const { return sender_.mode(); }
    void limitSendMode(SensorDatagramSender::Mode mode) const { sender_.limitMode(mode); }

    // GET_BUFFER_SIZE: NoError, ChannelNotAvailable, InternalError or a
    // request error. Stores nothing.
    VXTQirError isAvailable() const;

    VXTQirError sendOffsetTime(uint64_t ts) const;
    VXTQirError sendStartTime(uint64_t ts) const;
    VXTQirError sendStopTime(uint64_t ts) const;
    VXTQirError getOffset(uint64_t& ts) const;
    VXTQirError getStartTime(uint64_t& ts) const;
    VXTQirError getStopTime(uint64_t& ts) const;
    VXTQirError getFrameSize(uint16_t& width, uint16_t& height) const;
    VXTQirError resetChannel() const;
    VXTQirError clearStatusFlags() const;

    // The channel has been unregistered: a request still waiting for its
    // reply is not sent again (the channel may be someone else's by now).
    // Thread-safe.
    void release() const { released_.store(true, std::memory_order_release); }

    // True when this is channel channelIndex of the unit at controlIP.
    bool isSameChannel(const VXTQirInputInterfaceT& inputInterface, VXTQirChannelNumber channelIndex) const;
    // True when this is channel channelIndex of the unit whose control
    // socket is at address:port (network byte order in both).
    bool isChannelAt(in_addr address, in_port_t port, VXTQirChannelNumber channelIndex) const;
    ChannelKey getChannelKey() const;

    // The two halves of one control request, for callers that keep several
    // requests open at once (tests, fuzzing). startRequest sends a request
    // without payload under an id that no pending request holds and returns
    // that id; nullopt when all 65536 ids are pending. finishRequest waits at
    // most `timeout` for the reply to `request_id` and removes the pending
    // entry whatever the result (InternalError when there is none).
    // Thread-safe.
    std::optional<uint16_t> startRequest(Command command) const;
    VXTQirError finishRequest(uint16_t request_id, ReplayStatusMessage& reply, std::chrono::milliseconds timeout) const;
    // The id the next request starts its search for a free id from; lets
    // tests reach the 16-bit wrap without 65536 round trips. Thread-safe.
    void setNextRequestId(uint16_t request_id) const;

    // How often a request that is safe to repeat is sent before it is given
    // up: each try waits the whole reply timeout, and a reply to any of them
    // (they carry one request id) answers the request.
    static constexpr int CONTROL_TRIES = 3;

    // Flow-control counters, for diagnostics and tests.
    const QIRBufferNotifier& bufferNotifier() const { return channel_buffer_notifier_; }
    // Packet number the next sensor datagram will carry.
    uint16_t nextPacketNumber() const { return packet_number_; }
    // Sets the number of the next sensor datagram; lets tests reach the
    // 16-bit wrap without 65536 datagrams. Thread-bound, like sendReplayData.
    void setNextPacketNumber(uint16_t packetNumber) const;

    // End-of-frame positions the progress keeps while they wait for the
    // unit's acknowledgement (see Progress).
    static constexpr size_t FRAME_ENDS_KEPT = 1024;

private:
    // Whether a request may be sent again when its reply does not come:
    // Repeatable when doing it twice leaves the unit as doing it once (it
    // sets a value, or only reads); Once otherwise.
    enum class Repetition { Repeatable, Once };
    // What a timed-out wait does with the pending entry.
    enum class OnTimeout { Remove, Keep };

    // Counts a send that found no FIFO room within the stream time-out
    // (progress().sendTimeouts) and returns Timeout.
    VXTQirError countSendTimeout() const;

    // One control request whose reply is awaited.
    struct PendingRequest {
        bool completed = false;
        bool sendFailed = false;
        ReplayStatusMessage reply{};
    };

    ReplayControlMessage initReplayControlMessage(Command command, size_t payload_length) const;
    // Draws a free id, enters its pending entry and sends the message under
    // it. nullopt when every id is pending (nothing is sent then).
    std::optional<uint16_t> sendControlMessage(ReplayControlMessage message) const;
    std::optional<uint16_t> sendUserRequest(Command cmd) const;
    VXTQirError waitForReplayStatusMessage(std::optional<uint16_t> request_id, ReplayStatusMessage& message) const;
    VXTQirError waitForReplayStatusMessage(std::optional<uint16_t> request_id, ReplayStatusMessage& message,
                                           std::chrono::milliseconds timeout,
                                           OnTimeout onTimeout = OnTimeout::Remove) const;
    // Sends a request and waits for its reply; a Repeatable request is sent
    // again, under the same id, after each timed-out try, CONTROL_TRIES
    // tries in all.
    VXTQirError exchange(ReplayControlMessage request, ReplayStatusMessage& reply, Repetition repetition) const;
    // Sends a payload-less request; any reply counts.
    VXTQirError simpleRequest(Command command, Repetition repetition) const;
    // Sends a timestamp request; any reply counts.
    VXTQirError sendTimestamp(Command command, uint64_t ts) const;
    // Sends a payload-less GET request whose reply must carry expectedType.
    VXTQirError query(Command command, uint16_t expectedType, ReplayStatusMessage& reply) const;
    VXTQirError getTimestamp(Command command, uint64_t& ts) const;

    VXTQirError setFrameSize(uint16_t width, uint16_t height) const;
    VXTQirError controlReplay(bool enabled) const;
    VXTQirError controlStatusMsg(bool enabled) const;
    VXTQirError getBufferSize() const;

    // Counts one datagram just sent; requires qir_state_mutex_. Sending
    // thread.
    void noteSentLocked(uint16_t packetNumber, bool endOfFrame) const;
    // Takes the acknowledgement of a periodic status; requires
    // qir_state_mutex_.
    void acknowledgeLocked(uint16_t rxPacketNumber);

    // How many blocks from the first on flow control lets go together now;
    // at least 1 (the caller has just waited for room for the first).
    size_t blocksCleared(std::span<const ReplayBlock> blocks) const;
    // sendReplayBlocks with the first `cleared` blocks already let through.
    VXTQirError sendBlocks(std::span<const ReplayBlock> blocks, size_t& blocksSent, size_t cleared) const;
    // Datagrams a block of `size` bytes is cut into.
    size_t datagramsOf(size_t size) const;

    const VXTQirChannelNumber channel_index_;
    const std::string data_ip_;
    const uint16_t data_port_;
    const SocketHandle data_socket_;
    const sockaddr_in data_address_;
    const std::string control_ip_;
    const std::shared_ptr<const SocketHandle> control_socket_;
    const sockaddr_in control_address_;

    // Reply timeout in milliseconds; the destructor sets it to 0. Relaxed is
    // enough: it is a plain setting, read once per request.
    std::atomic<uint32_t> qir_get_timeout_ms_;
    // Set when the channel is unregistered (release).
    mutable std::atomic<bool> released_{ false };

    // Assembly buffer of one sensor datagram: header plus maxPayloadSize.
    mutable std::vector<uint8_t> replay_buffer_;
    // Datagrams of a run of blocks; owned by the sending thread.
    mutable SensorDatagramSender sender_;
    mutable QIRBufferNotifier channel_buffer_notifier_;

    // What was sent and acknowledged. Datagrams are counted from 0 in 64
    // bits; the unit's 16-bit rx_packet_num is widened against the latest
    // datagram sent: the flow-control window keeps the unacknowledged span
    // below 32768 datagrams, so the signed 16-bit distance names the
    // datagram. A frame counts as acknowledged when its end-of-frame
    // datagram is. The end positions not yet acknowledged are kept in a
    // fixed ring (no allocation on the send path); when more frames than it
    // holds are unacknowledged, the oldest leave the ring into `overflow`,
    // which counts them as acknowledged only once the newest of them is:
    // the count may then lag, never run ahead, and is exact again when the
    // unit has acknowledged everything.
    struct Progress {
        uint64_t datagramsSent = 0;
        uint64_t datagramsAcknowledged = 0;
        uint64_t framesSent = 0;
        uint64_t framesAcknowledged = 0;
        uint64_t statusCount = 0;
        uint64_t sendTimeouts = 0;     // sends that found no FIFO room within the stream time-out
        uint16_t lastPacketNumber = 0; // of the latest datagram sent
        std::optional<std::chrono::steady_clock::time_point> lastStatus;
        std::array<uint64_t, FRAME_ENDS_KEPT> frameEnds{}; // ring of positions, oldest at frameEndsHead
        size_t frameEndsHead = 0;
        size_t frameEndsCount = 0;
        uint64_t overflowCount = 0; // frames that left the ring unacknowledged
        uint64_t overflowLast = 0;  // position of the newest of them
    };

    // Guards qir_state_, qir_state_received_ and progress_; held briefly by
    // the listener (status) and the sending thread (datagrams sent).
    mutable std::mutex qir_state_mutex_;
    VXTQirStatusT qir_state_{};
    bool qir_state_received_ = false;
    mutable Progress progress_;

    // Height of the last frame size the unit acknowledged; written by
    // initReplay's caller, read by the sending thread.
    mutable std::atomic<uint16_t> frame_height_{ 0 };
    // Where the search for the next request id starts; wraps from 65535 to
    // 0. Guarded by requests_mutex_, so drawing an id and entering it as
    // pending form one step: two requests never share an id, and an id still
    // pending (a reply awaited under a long timeout while the counter wraps)
    // is skipped.
    mutable uint16_t request_id_ = 1;
    // Number of the next sensor datagram; owned by the sending thread.
    mutable uint16_t packet_number_ = 0;

    mutable std::mutex requests_mutex_;                  // guards running_requests_ and request_id_
    mutable std::condition_variable requests_completed_; // signalled under requests_mutex_
    mutable std::map<uint16_t, PendingRequest> running_requests_;
};

using ChannelStatePtr = std::shared_ptr<ChannelState>;

} // namespace vxqir
