// EmulatedChannel.h - the unit's side of one channel: control state, data
// verification and the replay FIFO.
#pragma once

#include "CompletedFrame.h"
#include "ControlRequest.h"
#include "DatagramBatch.h"
#include "EmulatorConfig.h"
#include "EmulatorStats.h"
#include "FrameAssembler.h"
#include "Ipv4Endpoint.h"
#include "PacketContinuity.h"
#include "ReplayFifo.h"
#include "UnitClock.h"

#include <mutex>
#include <optional>
#include <span>
#include <vector>

namespace vxqir::sim {

/// A periodic status and where it goes.
struct OutgoingStatus {
    ReplayStatusMessage message{};
    Ipv4Endpoint destination;
};

/// One channel of the emulated unit.
///
/// Thread-safe: the receive worker feeds datagrams, the control thread
/// handles requests and builds status messages, and any thread may inject
/// faults or take snapshots. One mutex guards the whole state; the receive
/// path takes it once per batch, not per datagram.
class EmulatedChannel {
public:
    /// `clock` must outlive the channel. Frames are assembled in buffers
    /// taken from `buffers` when given (see FrameAssembler).
    EmulatedChannel(uint8_t index, const ChannelConfig& config, const UnitClock& clock,
                    std::shared_ptr<FrameBufferPool> buffers = nullptr);

    uint8_t index() const { return index_; }

    /// Verifies a batch of sensor datagrams that arrived on the channel's
    /// data port. Frames completed by them are appended to `completed`.
    /// Thread-safe; called by the channel's receive worker.
    void receive(std::span<const ReceivedDatagram> batch, std::vector<CompletedFrame>& completed);

    /// Applies a valid request addressed to this channel and returns the
    /// reply (to be sent to `sender`, subject to reply faults).
    /// Thread-safe; called by the control thread.
    ReplayStatusMessage handleRequest(const ControlRequest& request, const Ipv4Endpoint& sender);

    /// The periodic status to send now, or nullopt while status messages are
    /// disabled, suppressed, or the channel is unavailable.
    /// Thread-safe; called by the control thread.
    std::optional<OutgoingStatus> periodicStatus();

    /// Fault injection. Thread-safe.
    void setAvailable(bool available);
    void setStatusSuppressed(bool suppressed);
    void freezeFifo();
    void releaseFifo();

    /// Ends the open frame (counted incomplete); for the end of a run.
    /// Thread-safe.
    void finishRun();

    /// Thread-safe.
    ChannelSnapshot snapshot() const;

private:
    void restartRun(); // requires mutex_
    // Hands the frames the assembler ended to the FIFO; requires mutex_.
    void followEndedFrames();

    const uint8_t index_;
    const ChannelConfig config_;
    const UnitClock& clock_;

    mutable std::mutex mutex_; // guards every member below
    bool available_ = true;
    bool enabled_ = false;
    bool statusEnabled_ = false;
    bool statusSuppressed_ = false;
    Ipv4Endpoint statusDestination_;
    bool loss_ = false;
    uint16_t frameWidth_ = 0;
    uint16_t frameHeight_ = 0;
    ReplayTimes times_;
    PacketContinuity continuity_;
    FrameAssembler assembler_;
    // Playout is computed lazily, so even reading the fill level for a
    // snapshot plays out what is due.
    mutable ReplayFifo fifo_;
    ChannelSnapshot counters_; // the counting fields only; state fields are filled by snapshot()
};

} // namespace vxqir::sim
