#include "EmulatedChannel.h"

#include "SensorDatagram.h"
#include "StatusMessages.h"

namespace vxqir::sim {

EmulatedChannel::EmulatedChannel(uint8_t index, const ChannelConfig& config, const UnitClock& clock,
                                 std::shared_ptr<FrameBufferPool> buffers)
    : index_(index)
    , config_(config)
    , clock_(clock)
    , assembler_(index, config.maxFrameBytes, std::move(buffers))
    , fifo_(config.fifoEntries, makePlayoutModel(config.playout))
{
    counters_.channel = index;
}

void EmulatedChannel::receive(std::span<const ReceivedDatagram> batch, std::vector<CompletedFrame>& completed)
{
    const uint64_t now = clock_.nowNs();
    std::lock_guard lock(mutex_);
    const bool queueing = enabled_ && available_;
    // Every block takes its FIFO entry before its frame is judged: a frame
    // with a block that found no room cannot reach the device under test.
    const FrameAssembler::BlockQueue queue = [&](uint64_t serial, const SensorDatagram& d) {
        ++counters_.blocks;
        if (!queueing)
            return true; // not queued at all; the frame then counts as not played
        const FifoEntry entry{ now,
                               d.header.timestamp,
                               d.header.frameNumber,
                               d.header.lineNumber,
                               static_cast<uint32_t>(d.payload.size()),
                               serial };
        if (fifo_.push(entry))
            return true;
        loss_ = true;
        return false;
    };
    for (const ReceivedDatagram& received : batch) {
        const ParsedDatagram parsed = parseSensorDatagram(received.bytes, received.length);
        if (parsed.fault != DatagramFault::None) {
            ++counters_.badDatagrams;
            ++counters_.badByReason[static_cast<size_t>(parsed.fault)];
            continue;
        }
        const SensorDatagram& d = parsed.datagram;
        ++counters_.datagrams;
        counters_.bytes += d.payload.size();
        if (!queueing)
            ++counters_.datagramsWhileDisabled;

        const ContinuityResult c = continuity_.observe(d.header.packetNumber);
        if (c.late) {
            // A repeated or reordered datagram cannot be placed in its frame
            // any more; it is only counted.
            ++counters_.packetsLate;
            continue;
        }
        if (c.missing != 0) {
            ++counters_.packetGaps;
            counters_.packetsMissing += c.missing;
            loss_ = true;
        }
        counters_.anyDatagram = true;
        counters_.lastPacketNumber = d.header.packetNumber;
        assembler_.add(d, c.missing != 0, completed, queue);
        followEndedFrames();
    }
}

void EmulatedChannel::followEndedFrames()
{
    for (const FrameAssembler::EndedFrame& ended : assembler_.takeEndedFrames()) {
        if (ended.complete)
            fifo_.sealFrame(ended.serial, ended.lines);
        else
            fifo_.forgetFrame(ended.serial);
    }
}

ReplayStatusMessage EmulatedChannel::handleRequest(const ControlRequest& request, const Ipv4Endpoint& sender)
{
    std::lock_guard lock(mutex_);
    ++counters_.requests;
    const uint16_t command = request.message.command;
    if (!available_)
        return makeReply(index_, RESPONSE_CHANNEL_NOT_AVAILABLE, request.requestId());

    ReplayStatusMessage reply = makeReply(index_, command, request.requestId());
    const auto& payload = request.message.payload;
    switch (request.command()) {
    case Command::DISABLE_CHANNEL:
        // Replay stops and the FIFO empties, but verification goes on:
        // datagrams sent before this request may still be queued at the data
        // socket, and the frame they belong to must not be cut short.
        fifo_.clear();
        enabled_ = false;
        break;
    case Command::ENABLE_CHANNEL:
        // A client that enables a channel anew (after registering it again)
        // numbers its datagrams from 0 again.
        if (!enabled_) {
            restartRun();
            // The new run numbers from 0; until its first datagram arrives
            // the status must not report the old run's last packet, which
            // the client would take for a packet far ahead of its own.
            counters_.lastPacketNumber = 0;
        }
        enabled_ = true;
        break;
    case Command::RESET_CHANNEL:
        restartRun();
        break;
    case Command::GET_BUFFER_SIZE:
        reply.response_type = RESPONSE_BUFFER_SIZE;
        reply.payload.buffer.total_buffer_size = config_.bufferBytes;
        reply.payload.buffer.total_fifo_entries = config_.fifoEntries;
        break;
    case Command::DISABLE_STATUS_MESSAGES:
        statusEnabled_ = false;
        break;
    case Command::ENABLE_STATUS_MESSAGES:
        statusEnabled_ = true;
        statusDestination_ = sender;
        break;
    case Command::CLEAR_STATUS_FLAGS:
        loss_ = false;
        break;
    case Command::SET_OFFSET_TIMESTAMP:
        times_.offsetNs = payload.ts;
        break;
    case Command::GET_OFFSET_TIMESTAMP:
        reply.payload.timestamp = times_.offsetNs;
        break;
    case Command::SET_START_TIMESTAMP:
        times_.startNs = payload.ts;
        break;
    case Command::GET_START_TIMESTAMP:
        reply.payload.timestamp = times_.startNs;
        break;
    case Command::SET_STOP_TIMESTAMP:
        times_.stopNs = payload.ts;
        break;
    case Command::GET_STOP_TIMESTAMP:
        reply.payload.timestamp = times_.stopNs;
        break;
    case Command::SET_FRAME_SIZE:
        frameWidth_ = payload.frameSize.width;
        frameHeight_ = payload.frameSize.height;
        assembler_.setGeometry(frameWidth_, frameHeight_);
        break;
    case Command::GET_FRAME_SIZE:
        reply.payload.frameSize.width = frameWidth_;
        reply.payload.frameSize.height = frameHeight_;
        break;
    }
    fifo_.setTimes(times_);
    return reply;
}

std::optional<OutgoingStatus> EmulatedChannel::periodicStatus()
{
    const uint64_t now = clock_.nowNs();
    std::lock_guard lock(mutex_);
    if (!statusEnabled_ || statusSuppressed_ || !available_)
        return std::nullopt;
    ChannelStatus status;
    status.enabled = enabled_;
    status.loss = loss_;
    status.ptpSynced = config_.ptpSynced;
    status.ptpActive = config_.ptpActive;
    status.rxPacketNumber = counters_.lastPacketNumber;
    status.freeFifoEntries = fifo_.freeEntries(now);
    status.currentTimeNs = now;
    ++counters_.statusMessages;
    return OutgoingStatus{ makePeriodicStatus(index_, status), statusDestination_ };
}

void EmulatedChannel::setAvailable(bool available)
{
    std::lock_guard lock(mutex_);
    available_ = available;
}

void EmulatedChannel::setStatusSuppressed(bool suppressed)
{
    std::lock_guard lock(mutex_);
    statusSuppressed_ = suppressed;
}

void EmulatedChannel::freezeFifo()
{
    const uint64_t now = clock_.nowNs();
    std::lock_guard lock(mutex_);
    fifo_.advance(now);
    fifo_.freeze();
}

void EmulatedChannel::releaseFifo()
{
    const uint64_t now = clock_.nowNs();
    std::lock_guard lock(mutex_);
    fifo_.release(now);
}

void EmulatedChannel::finishRun()
{
    std::lock_guard lock(mutex_);
    assembler_.abandon();
    followEndedFrames();
}

ChannelSnapshot EmulatedChannel::snapshot() const
{
    const uint64_t now = clock_.nowNs();
    std::lock_guard lock(mutex_);
    fifo_.advance(now);
    ChannelSnapshot s = counters_;
    s.available = available_;
    s.enabled = enabled_;
    s.statusEnabled = statusEnabled_;
    s.statusSuppressed = statusSuppressed_;
    s.loss = loss_;
    s.fifoFrozen = fifo_.frozen();
    s.frameWidth = frameWidth_;
    s.frameHeight = frameHeight_;
    s.times = times_;
    s.frames = assembler_.counters();
    s.fifoCapacity = fifo_.capacity();
    s.fifoUsed = fifo_.used();
    s.fifo = fifo_.counters();
    s.framesAwaitingPlayout = fifo_.framesAwaitingPlayout();
    s.frameOpen = assembler_.frameOpen();
    return s;
}

void EmulatedChannel::restartRun()
{
    fifo_.clear();
    assembler_.abandon();
    followEndedFrames();
    continuity_.restart();
}

} // namespace vxqir::sim
