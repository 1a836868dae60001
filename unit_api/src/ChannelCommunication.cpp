#include "ChannelCommunication.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace vxqir {

namespace {

uint16_t dataPortOf(const VXTQirInputInterfaceT& inputInterface, VXTQirChannelNumber channelIndex)
{
    // Added in 16 bits: base port 65535 and channel 1 give port 0.
    return static_cast<uint16_t>(inputInterface.dataBasePort + static_cast<uint32_t>(channelIndex));
}

} // namespace

ChannelState::ChannelState(const VXTQirInputInterfaceT& inputInterface, VXTQirChannelNumber channelIndex,
                           std::shared_ptr<const SocketHandle> controlSocket)
    : channel_index_(channelIndex)
    , data_ip_(inputInterface.dataIP)
    , data_port_(dataPortOf(inputInterface, channelIndex))
    , data_socket_(socket_create())
    , data_address_(make_socket_address(inputInterface.dataIP, data_port_))
    , control_ip_(inputInterface.controlIP)
    , control_socket_(std::move(controlSocket))
    , control_address_(make_socket_address(inputInterface.controlIP, inputInterface.controlPort))
    , qir_get_timeout_ms_(inputInterface.timeoutGet_ms)
    , replay_buffer_(SENSOR_HEADER_SIZE + inputInterface.maxPayloadSize, 0)
    , channel_buffer_notifier_(std::chrono::milliseconds(inputInterface.timeoutStream_ms))
{
    // A channel without a data socket could register but never stream; the
    // registration is refused instead. No destructor runs, so the unit is
    // not told anything.
    if (!data_socket_.valid())
        throw DataSocketUnavailable();
}

ChannelState::~ChannelState()
{
    // Possibly destroyed while the listener cannot deliver replies (the
    // caller holds the interface lock): say goodbye without waiting.
    qir_get_timeout_ms_.store(0, std::memory_order_relaxed);
    (void)controlReplay(false);
    (void)controlStatusMsg(false);
    std::lock_guard lock(requests_mutex_);
    running_requests_.clear();
}

// Control requests ----------------------------------------------------------

ReplayControlMessage ChannelState::initReplayControlMessage(Command command, size_t payload_length) const
{
    // request_id is drawn when the message is sent (sendControlMessage). The
    // length is the caller's: a request sends the payload it fills.
    ReplayControlMessage message = makeControlMessage(static_cast<uint8_t>(channel_index_ & 0xFF), command, 0);
    message.packet_length = static_cast<uint8_t>(CONTROL_HEADER_LENGTH + payload_length);
    return message;
}

std::optional<uint16_t> ChannelState::sendControlMessage(ReplayControlMessage message) const
{
    {
        // The entry exists before the datagram leaves, so an immediate reply
        // always finds it. An id still pending is never handed out again:
        // two waiters on one entry would each erase it.
        std::lock_guard lock(requests_mutex_);
        if (running_requests_.size() > std::numeric_limits<uint16_t>::max())
            return std::nullopt;
        uint16_t id = request_id_;
        while (running_requests_.contains(id))
            ++id;
        request_id_ = static_cast<uint16_t>(id + 1);
        running_requests_.emplace(id, PendingRequest{});
        message.request_id = id;
    }
    const uint16_t id = message.request_id;
    const int socket = control_socket_ ? control_socket_->get() : -1;
    const SocketError sent = socket_send_to(socket, &message, message.packet_length, 0, control_address_);
    if (sent != SocketError::NoError) {
        std::lock_guard lock(requests_mutex_);
        const auto entry = running_requests_.find(id);
        if (entry != running_requests_.end() && !entry->second.completed) {
            entry->second.completed = true;
            entry->second.sendFailed = true;
        }
        requests_completed_.notify_all();
    }
    return id;
}

std::optional<uint16_t> ChannelState::sendUserRequest(Command cmd) const
{
    return sendControlMessage(initReplayControlMessage(cmd, 0));
}

VXTQirError ChannelState::waitForReplayStatusMessage(std::optional<uint16_t> request_id,
                                                     ReplayStatusMessage& message) const
{
    return waitForReplayStatusMessage(request_id, message,
                                      std::chrono::milliseconds(qir_get_timeout_ms_.load(std::memory_order_relaxed)));
}

VXTQirError ChannelState::waitForReplayStatusMessage(std::optional<uint16_t> request_id, ReplayStatusMessage& message,
                                                     std::chrono::milliseconds timeout, OnTimeout onTimeout) const
{
    if (!request_id)
        return InternalError; // every id pending: the request was never sent
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::unique_lock lock(requests_mutex_);
    auto entry = running_requests_.find(*request_id);
    if (entry == running_requests_.end())
        return InternalError;

    // The wait releases requests_mutex_; map nodes stay put while others are
    // inserted or erased, and only this waiter erases its own entry (ids are
    // unique among pending requests).
    const bool completed = requests_completed_.wait_until(lock, deadline, [&] { return entry->second.completed; });
    if (!completed && onTimeout == OnTimeout::Keep)
        return Timeout; // the entry still takes a late reply

    VXTQirError result = Timeout;
    if (completed && entry->second.sendFailed) {
        result = ControlSocketError;
    } else if (completed && entry->second.reply.response_type == RESPONSE_CHANNEL_NOT_AVAILABLE) {
        // Whatever was asked, the unit refuses the channel: no request
        // answered so may count as done.
        result = ChannelNotAvailable;
    } else if (completed) {
        message = entry->second.reply;
        result = NoError;
    }
    running_requests_.erase(entry);
    return result;
}

std::optional<uint16_t> ChannelState::startRequest(Command command) const
{
    return sendUserRequest(command);
}

VXTQirError ChannelState::finishRequest(uint16_t request_id, ReplayStatusMessage& reply,
                                        std::chrono::milliseconds timeout) const
{
    return waitForReplayStatusMessage(request_id, reply, timeout);
}

void ChannelState::setNextRequestId(uint16_t request_id) const
{
    std::lock_guard lock(requests_mutex_);
    request_id_ = request_id;
}

VXTQirError ChannelState::exchange(ReplayControlMessage request, ReplayStatusMessage& reply,
                                   Repetition repetition) const
{
    const std::optional<uint16_t> id = sendControlMessage(request);
    const std::chrono::milliseconds timeout(qir_get_timeout_ms_.load(std::memory_order_relaxed));
    // Without a wait (a channel saying goodbye) there is nothing to repeat.
    const int tries = repetition == Repetition::Repeatable && timeout.count() > 0 ? CONTROL_TRIES : 1;
    for (int sent = 1;; ++sent) {
        const bool last = sent >= tries;
        const VXTQirError result =
            waitForReplayStatusMessage(id, reply, timeout, last ? OnTimeout::Remove : OnTimeout::Keep);
        if (result != Timeout || last)
            return result;
        if (released_.load(std::memory_order_acquire)) {
            // Unregistered meanwhile: give up without sending again.
            std::lock_guard lock(requests_mutex_);
            running_requests_.erase(*id);
            return Timeout;
        }
        // The same datagram again: a reply to either try answers it.
        request.request_id = *id;
        const int socket = control_socket_ ? control_socket_->get() : -1;
        if (socket_send_to(socket, &request, request.packet_length, 0, control_address_) != SocketError::NoError) {
            std::lock_guard lock(requests_mutex_);
            running_requests_.erase(*id);
            return ControlSocketError;
        }
    }
}

VXTQirError ChannelState::simpleRequest(Command command, Repetition repetition) const
{
    ReplayStatusMessage reply{};
    return exchange(initReplayControlMessage(command, 0), reply, repetition);
}

VXTQirError ChannelState::sendTimestamp(Command command, uint64_t ts) const
{
    ReplayControlMessage request = initReplayControlMessage(command, sizeof(request.payload.ts));
    request.payload.ts = ts;
    ReplayStatusMessage reply{};
    return exchange(request, reply, Repetition::Repeatable);
}

VXTQirError ChannelState::query(Command command, uint16_t expectedType, ReplayStatusMessage& reply) const
{
    const VXTQirError result = exchange(initReplayControlMessage(command, 0), reply, Repetition::Repeatable);
    if (result != NoError)
        return result;
    return reply.response_type == expectedType ? NoError : InternalError;
}

VXTQirError ChannelState::getTimestamp(Command command, uint64_t& ts) const
{
    ReplayStatusMessage reply{};
    const VXTQirError result = query(command, static_cast<uint16_t>(command), reply);
    if (result == NoError)
        ts = reply.payload.timestamp;
    return result;
}

VXTQirError ChannelState::setFrameSize(uint16_t width, uint16_t height) const
{
    ReplayControlMessage request = initReplayControlMessage(Command::SET_FRAME_SIZE, sizeof(request.payload.frameSize));
    request.payload.frameSize.width = width;
    request.payload.frameSize.height = height;
    ReplayStatusMessage reply{};
    const VXTQirError result = exchange(request, reply, Repetition::Repeatable);
    if (result == NoError)
        frame_height_.store(height, std::memory_order_release);
    return result;
}

VXTQirError ChannelState::controlReplay(bool enabled) const
{
    return simpleRequest(enabled ? Command::ENABLE_CHANNEL : Command::DISABLE_CHANNEL, Repetition::Repeatable);
}

VXTQirError ChannelState::controlStatusMsg(bool enabled) const
{
    return simpleRequest(enabled ? Command::ENABLE_STATUS_MESSAGES : Command::DISABLE_STATUS_MESSAGES,
                         Repetition::Repeatable);
}

VXTQirError ChannelState::getBufferSize() const
{
    ReplayStatusMessage reply{};
    const VXTQirError result = query(Command::GET_BUFFER_SIZE, RESPONSE_BUFFER_SIZE, reply);
    if (result == NoError)
        channel_buffer_notifier_.setTotalBuffer(reply.payload.buffer.total_fifo_entries);
    return result;
}

VXTQirError ChannelState::initReplay(uint16_t width, uint16_t height) const
{
    VXTQirError result = setFrameSize(width, height);
    if (result == NoError)
        result = controlReplay(true);
    if (result == NoError)
        result = controlStatusMsg(true);
    if (result == NoError)
        result = getBufferSize();
    return result;
}

VXTQirError ChannelState::isAvailable() const
{
    ReplayStatusMessage reply{};
    const VXTQirError result =
        exchange(initReplayControlMessage(Command::GET_BUFFER_SIZE, 0), reply, Repetition::Repeatable);
    if (result != NoError)
        return result; // 0x8004 has become ChannelNotAvailable already
    return reply.response_type == RESPONSE_BUFFER_SIZE ? NoError : InternalError;
}

VXTQirError ChannelState::sendOffsetTime(uint64_t ts) const
{
    return sendTimestamp(Command::SET_OFFSET_TIMESTAMP, ts);
}

VXTQirError ChannelState::sendStartTime(uint64_t ts) const
{
    return sendTimestamp(Command::SET_START_TIMESTAMP, ts);
}

VXTQirError ChannelState::sendStopTime(uint64_t ts) const
{
    return sendTimestamp(Command::SET_STOP_TIMESTAMP, ts);
}

VXTQirError ChannelState::getOffset(uint64_t& ts) const
{
    return getTimestamp(Command::GET_OFFSET_TIMESTAMP, ts);
}

VXTQirError ChannelState::getStartTime(uint64_t& ts) const
{
    return getTimestamp(Command::GET_START_TIMESTAMP, ts);
}

VXTQirError ChannelState::getStopTime(uint64_t& ts) const
{
    return getTimestamp(Command::GET_STOP_TIMESTAMP, ts);
}

VXTQirError ChannelState::getFrameSize(uint16_t& width, uint16_t& height) const
{
    ReplayStatusMessage reply{};
    const VXTQirError result = query(Command::GET_FRAME_SIZE, static_cast<uint16_t>(Command::GET_FRAME_SIZE), reply);
    if (result == NoError) {
        width = reply.payload.frameSize.width;
        height = reply.payload.frameSize.height;
    }
    return result;
}

VXTQirError ChannelState::resetChannel() const
{
    // Not repeated: data sent meanwhile by the sending thread would be
    // reset by the second try.
    return simpleRequest(Command::RESET_CHANNEL, Repetition::Once);
}

VXTQirError ChannelState::clearStatusFlags() const
{
    // Not repeated: a loss the unit flags between two tries would be
    // cleared unseen.
    return simpleRequest(Command::CLEAR_STATUS_FLAGS, Repetition::Once);
}

// Status -------------------------------------------------------------------

void ChannelState::processStatusMessage(const ReplayStatusMessage& message)
{
    if (message.channel != channel_index_)
        return;

    if (message.response_type == RESPONSE_PERIODIC_STATUS) {
        const StatusPayload& status = message.payload.status;
        {
            std::lock_guard lock(qir_state_mutex_);
            acknowledgeLocked(status.rx_packet_num);
            ++progress_.statusCount;
            progress_.lastStatus = std::chrono::steady_clock::now();
            qir_state_.enabled = (status.flags & STATUS_FLAG_ENABLED) != 0;
            qir_state_.loss = (status.flags & STATUS_FLAG_LOSS) != 0;
            qir_state_.ptpSynced = (status.flags & STATUS_FLAG_PTP_SYNCED) != 0;
            qir_state_.ptpActive = (status.flags & STATUS_FLAG_PTP_ACTIVE) != 0;
            qir_state_.freeFifoEntries = status.free_fifo_entries;
            qir_state_.currentTime_ns = status.currenttime_ns;
            qir_state_received_ = true;
        }
        // The cached status first: a sender woken by this status finds it
        // when it asks for the state.
        channel_buffer_notifier_.updateStatus(message);
        return;
    }

    std::lock_guard lock(requests_mutex_);
    const auto entry = running_requests_.find(message.response_id);
    // A reply nobody waits for, or a second reply to a completed request, is
    // dropped: the first reply stands.
    if (entry == running_requests_.end() || entry->second.completed)
        return;
    entry->second.completed = true;
    entry->second.reply = message;
    requests_completed_.notify_all();
}

VXTQirError ChannelState::getCurrentState(VXTQirStatusT& status) const
{
    std::lock_guard lock(qir_state_mutex_);
    if (!qir_state_received_)
        return DataNotAvailable;
    status = qir_state_;
    return NoError;
}

// Progress -------------------------------------------------------------------

void ChannelState::noteSentLocked(uint16_t packetNumber, bool endOfFrame) const
{
    Progress& p = progress_;
    const uint64_t position = p.datagramsSent++;
    p.lastPacketNumber = packetNumber;
    if (!endOfFrame)
        return;
    ++p.framesSent;
    if (p.frameEndsCount == FRAME_ENDS_KEPT) {
        // The oldest end leaves the ring; it is counted once the newest end
        // that left is acknowledged, which implies it.
        ++p.overflowCount;
        p.overflowLast = p.frameEnds[p.frameEndsHead];
        p.frameEndsHead = (p.frameEndsHead + 1) % FRAME_ENDS_KEPT;
        --p.frameEndsCount;
    }
    p.frameEnds[(p.frameEndsHead + p.frameEndsCount) % FRAME_ENDS_KEPT] = position;
    ++p.frameEndsCount;
}

void ChannelState::acknowledgeLocked(uint16_t rxPacketNumber)
{
    Progress& p = progress_;
    if (p.datagramsSent == 0)
        return; // a number of an earlier run: nothing of ours to acknowledge
    // Signed distance from the latest datagram sent: 0 acknowledges all of
    // them, -k all but the last k. A number ahead of ours (a status of an
    // earlier run, or one that overtook the count of a datagram just sent)
    // acknowledges nothing new; neither does one behind our first datagram.
    const int32_t behind = QIRBufferNotifier::packetDistance(p.lastPacketNumber, rxPacketNumber);
    if (behind > 0 || static_cast<uint64_t>(-static_cast<int64_t>(behind)) >= p.datagramsSent)
        return;
    const uint64_t acknowledged = p.datagramsSent - static_cast<uint64_t>(-static_cast<int64_t>(behind));
    if (acknowledged <= p.datagramsAcknowledged)
        return; // never backwards: statuses may arrive out of order
    p.datagramsAcknowledged = acknowledged;
    if (p.overflowCount > 0) {
        if (p.overflowLast >= acknowledged)
            return; // the ring's ends are newer still
        p.framesAcknowledged += p.overflowCount;
        p.overflowCount = 0;
    }
    while (p.frameEndsCount > 0 && p.frameEnds[p.frameEndsHead] < acknowledged) {
        ++p.framesAcknowledged;
        p.frameEndsHead = (p.frameEndsHead + 1) % FRAME_ENDS_KEPT;
        --p.frameEndsCount;
    }
}

VXTQirChannelProgressT ChannelState::progress(std::chrono::steady_clock::time_point now) const
{
    VXTQirChannelProgressT result{};
    result.fifoEntries = channel_buffer_notifier_.totalBufferSlots();
    std::lock_guard lock(qir_state_mutex_);
    const Progress& p = progress_;
    result.datagramsSent = p.datagramsSent;
    result.datagramsAcknowledged = p.datagramsAcknowledged;
    result.framesSent = p.framesSent;
    result.framesAcknowledged = p.framesAcknowledged;
    result.statusCount = p.statusCount;
    result.sendTimeouts = p.sendTimeouts;
    result.msSinceStatus = -1;
    if (p.lastStatus)
        result.msSinceStatus =
            std::max<int64_t>(0, std::chrono::duration_cast<std::chrono::milliseconds>(now - *p.lastStatus).count());
    if (qir_state_received_)
        result.status = qir_state_;
    return result;
}

void ChannelState::setNextPacketNumber(uint16_t packetNumber) const
{
    packet_number_ = packetNumber;
    // The counts go on; the widening follows the new numbering from the
    // datagram that will carry it.
    std::lock_guard lock(qir_state_mutex_);
    progress_.lastPacketNumber = static_cast<uint16_t>(packetNumber - 1);
}

// Sensor data ----------------------------------------------------------------

VXTQirError ChannelState::countSendTimeout() const
{
    std::lock_guard lock(qir_state_mutex_);
    ++progress_.sendTimeouts;
    return Timeout;
}

VXTQirError ChannelState::sendReplayData(ReplaySensorMessageHeader& msg, const uint8_t* payload,
                                         uint16_t payload_size) const
{
    if (!channel_buffer_notifier_.waitForFreeBuffer(packet_number_))
        return countSendTimeout();

    const size_t largest = replay_buffer_.size() - SENSOR_HEADER_SIZE;
    const uint16_t lastLine = static_cast<uint16_t>(frame_height_.load(std::memory_order_acquire) - 1);
    const bool frameHeightKnown = frame_height_.load(std::memory_order_acquire) != 0;

    if (payload_size == 0) {
        // No datagram, so nothing the unit could acknowledge; the entry is
        // only taken from the free count.
        channel_buffer_notifier_.decreaseAvailableBufferSlots();
        return NoError;
    }

    if (payload_size > largest) {
        // Several datagrams: one batched send. Flow control has let this
        // block through already, and it stays let through for it.
        const ReplayBlock block{ .properties = { .timestamp = msg.timestamp,
                                                 .frameNumber = msg.frameNumber,
                                                 .lineNumber = msg.lineNumber,
                                                 .streamID = msg.streamID },
                                 .payload = payload,
                                 .payloadSize = payload_size };
        size_t blocksSent = 0;
        return sendBlocks(std::span<const ReplayBlock>(&block, 1), blocksSent, 1);
    }

    const uint16_t rxBeforeSend = channel_buffer_notifier_.lastReceivedPacket();
    size_t sent = 0;
    while (sent < payload_size) {
        size_t current = std::min<size_t>(payload_size - sent, largest);
        const bool last = sent + current >= payload_size;
        if (!last)
            current -= current % 8; // every datagram but the last carries a multiple of 8 bytes

        msg.payloadSize = static_cast<uint16_t>(current);
        msg.packetNumber = packet_number_;
        msg.setEndMarks(last, last && frameHeightKnown && msg.lineNumber == lastLine);

        std::memcpy(replay_buffer_.data(), &msg, SENSOR_HEADER_SIZE);
        std::memcpy(replay_buffer_.data() + SENSOR_HEADER_SIZE, payload + sent, current);

        const SocketError result =
            socket_send_to(data_socket_.get(), replay_buffer_.data(), SENSOR_HEADER_SIZE + current, 0, data_address_);
        if (result == SocketError::FragmentationError)
            return PacketFragmentation;
        if (result != SocketError::NoError)
            return DataSocketError;

        {
            std::lock_guard lock(qir_state_mutex_);
            noteSentLocked(packet_number_, msg.endOfFrame());
        }
        ++packet_number_;
        sent += current;
    }

    channel_buffer_notifier_.blockSent(msg.packetNumber, rxBeforeSend);
    return NoError;
}

size_t ChannelState::datagramsOf(size_t size) const
{
    const size_t largest = replay_buffer_.size() - SENSOR_HEADER_SIZE;
    if (size <= largest)
        return size == 0 ? 0 : 1;
    // Every datagram but the last carries the largest multiple of 8.
    const size_t full = largest - largest % 8;
    return (size - largest + full - 1) / full + 1;
}

size_t ChannelState::blocksCleared(std::span<const ReplayBlock> blocks) const
{
    uint16_t packet = packet_number_;
    size_t cleared = 0;
    while (cleared < blocks.size() && channel_buffer_notifier_.maySendAfter(static_cast<uint32_t>(cleared), packet)) {
        packet = static_cast<uint16_t>(packet + datagramsOf(blocks[cleared].payloadSize));
        ++cleared;
    }
    // A status may have taken the room back since the wait saw it; the
    // first block goes anyway, as it would alone.
    return cleared == 0 ? 1 : cleared;
}

VXTQirError ChannelState::sendReplayBlocks(std::span<const ReplayBlock> blocks, size_t& blocksSent) const
{
    return sendBlocks(blocks, blocksSent, 0);
}

VXTQirError ChannelState::sendBlocks(std::span<const ReplayBlock> blocks, size_t& blocksSent, size_t cleared) const
{
    blocksSent = 0;
    const size_t largest = replay_buffer_.size() - SENSOR_HEADER_SIZE;
    const uint16_t height = frame_height_.load(std::memory_order_acquire);
    const uint16_t lastLine = static_cast<uint16_t>(height - 1);

    size_t next = 0;   // first block not wholly handed to the sender
    size_t offset = 0; // bytes of blocks[next] handed to the sender
    // `cleared`: blocks from `next` on that flow control has let go.
    while (blocksSent < blocks.size()) {
        if (cleared == 0) {
            if (!channel_buffer_notifier_.waitForFreeBuffer(packet_number_))
                return countSendTimeout();
            cleared = blocksCleared(blocks.subspan(next));
        }

        sender_.clear();
        while (next < blocks.size() && cleared > 0 && !sender_.full()) {
            const ReplayBlock& block = blocks[next];
            if (block.payloadSize == 0) {
                // No datagram, only a FIFO entry; taken in order, so the
                // datagrams before it leave first.
                if (sender_.size() > 0)
                    break;
                channel_buffer_notifier_.decreaseAvailableBufferSlots();
                ++blocksSent;
                ++next;
                --cleared;
                continue;
            }
            size_t current = std::min<size_t>(block.payloadSize - offset, largest);
            const bool last = offset + current >= block.payloadSize;
            if (!last)
                current -= current % 8;
            ReplaySensorMessageHeader header{};
            header.frameNumber = block.properties.frameNumber;
            header.lineNumber = block.properties.lineNumber;
            header.version = QIR_PROTOCOL_VERSION;
            header.streamID = block.properties.streamID;
            header.timestamp = block.properties.timestamp;
            header.payloadSize = static_cast<uint16_t>(current);
            header.packetNumber = static_cast<uint16_t>(packet_number_ + sender_.size());
            header.setEndMarks(last, last && height != 0 && header.lineNumber == lastLine);
            sender_.add(header, block.payload + offset, current);
            offset += current;
            if (last) {
                ++next;
                offset = 0;
                --cleared;
            }
        }
        if (sender_.size() == 0)
            continue;

        const uint16_t rxBeforeSend = channel_buffer_notifier_.lastReceivedPacket();
        const SensorDatagramSender::Result result = sender_.send(data_socket_.get(), data_address_);
        packet_number_ = static_cast<uint16_t>(packet_number_ + result.sent);
        if (result.sent > 0) {
            std::lock_guard lock(qir_state_mutex_);
            for (size_t i = 0; i < result.sent; ++i)
                noteSentLocked(sender_.header(i).packetNumber, sender_.header(i).endOfFrame());
        }
        for (size_t i = 0; i < result.sent; ++i) {
            // The end-of-line mark is on the last datagram of each block.
            if (sender_.header(i).endOfLine()) {
                channel_buffer_notifier_.blockSent(sender_.header(i).packetNumber, rxBeforeSend);
                ++blocksSent;
            }
        }
        if (result.error == SocketError::FragmentationError)
            return PacketFragmentation;
        if (result.error != SocketError::NoError)
            return DataSocketError;
    }
    return NoError;
}

// Identity -------------------------------------------------------------------

bool ChannelState::isSameChannel(const VXTQirInputInterfaceT& inputInterface, VXTQirChannelNumber channelIndex) const
{
    return inputInterface.controlIP != nullptr && control_ip_ == inputInterface.controlIP &&
        channel_index_ == channelIndex;
}

bool ChannelState::isChannelAt(in_addr address, in_port_t port, VXTQirChannelNumber channelIndex) const
{
    return control_address_.sin_addr.s_addr == address.s_addr && control_address_.sin_port == port &&
        channel_index_ == channelIndex;
}

ChannelKey ChannelState::getChannelKey() const
{
    return ChannelKey{ control_ip_, channel_index_ };
}

} // namespace vxqir
