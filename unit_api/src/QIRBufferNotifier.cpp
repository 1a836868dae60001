#include "QIRBufferNotifier.h"

namespace vxqir {

namespace {

constexpr uint32_t IN_FLIGHT_SLOTS = 65536; // one per 16-bit packet number

} // namespace

QIRBufferNotifier::QIRBufferNotifier(std::chrono::milliseconds timeout) : inFlight_(IN_FLIGHT_SLOTS), timeout_(timeout)
{ }

void QIRBufferNotifier::acknowledgeUpTo(uint16_t rxPacket)
{
    // A block counts as received when the unit's counter has reached its
    // last packet and has moved since the block was sent. The second half
    // matters when the counter already stood at or past the block's number
    // (an idle unit reports 0 before it has received anything, and a new
    // run numbers from 0 again): a status written before the block arrived
    // would otherwise free its entry, and the sender would overfill the FIFO.
    while (inFlightCount_ > 0 && packetDistance(inFlight_[inFlightHead_].lastPacket, rxPacket) >= 0 &&
           rxPacket != inFlight_[inFlightHead_].rxAtSend) {
        inFlightHead_ = (inFlightHead_ + 1) % IN_FLIGHT_SLOTS;
        --inFlightCount_;
    }
}

void QIRBufferNotifier::updateStatus(const ReplayStatusMessage& message)
{
    const uint32_t reported = message.payload.status.free_fifo_entries;
    const uint16_t rx = message.payload.status.rx_packet_num;
    {
        std::lock_guard lock(inFlightMutex_);
        acknowledgeUpTo(rx);
        free_buffer_slots_.store(reported > inFlightCount_ ? reported - inFlightCount_ : 0, std::memory_order_release);
        last_successful_packet_number_.store(rx, std::memory_order_release);
    }
    wakeWaiters();
}

void QIRBufferNotifier::setTotalBuffer(uint32_t totalTimestampBufferSlots)
{
    total_buffer_slots_.store(totalTimestampBufferSlots, std::memory_order_release);
    wakeWaiters();
}

void QIRBufferNotifier::blockSent(uint16_t lastPacketNumber, uint16_t rxBeforeSend)
{
    std::lock_guard lock(inFlightMutex_);
    if (inFlightCount_ == IN_FLIGHT_SLOTS) {
        inFlightHead_ = (inFlightHead_ + 1) % IN_FLIGHT_SLOTS;
        --inFlightCount_;
    }
    inFlight_[(inFlightHead_ + inFlightCount_) % IN_FLIGHT_SLOTS] = { lastPacketNumber, rxBeforeSend };
    ++inFlightCount_;
    const uint32_t free = free_buffer_slots_.load(std::memory_order_relaxed);
    if (free > 0)
        free_buffer_slots_.store(free - 1, std::memory_order_release);
}

void QIRBufferNotifier::decreaseAvailableBufferSlots()
{
    // Never below zero: a status message may have set the count to 0 after
    // the sender saw room for this block.
    std::lock_guard lock(inFlightMutex_);
    const uint32_t free = free_buffer_slots_.load(std::memory_order_relaxed);
    if (free > 0)
        free_buffer_slots_.store(free - 1, std::memory_order_release);
}

uint32_t QIRBufferNotifier::blocksInFlight() const
{
    std::lock_guard lock(inFlightMutex_);
    return inFlightCount_;
}

bool QIRBufferNotifier::maySendAfter(uint32_t blocksAhead, uint16_t pck_no) const
{
    const uint32_t total = total_buffer_slots_.load(std::memory_order_acquire);
    const uint32_t reported = free_buffer_slots_.load(std::memory_order_acquire);
    if (total == 0 || reported <= blocksAhead)
        return false;
    const uint32_t free = reported - blocksAhead;
    if (static_cast<double>(free) / static_cast<double>(total) < THRESHOLD)
        return false;
    // Forward distance modulo 65536, so the window keeps holding after the
    // counters wrap. A unit counter ahead of ours (a status of an earlier
    // run) reads as negative and does not hold the sender back.
    const int32_t ahead = packetDistance(last_successful_packet_number_.load(std::memory_order_acquire), pck_no);
    return ahead <= MAX_FUTURE_PACKETS;
}

bool QIRBufferNotifier::waitForFreeBuffer(uint16_t pck_no)
{
    if (maySend(pck_no))
        return true;
    const auto deadline = std::chrono::steady_clock::now() + timeout_;
    std::unique_lock lock(mutex_);
    return condition_variable_.wait_until(lock, deadline, [&] { return maySend(pck_no); });
}

void QIRBufferNotifier::wakeWaiters()
{
    // Taking the mutex orders this renewal against a sender that has just
    // found the condition false and is about to wait, so no wake-up is lost.
    {
        std::lock_guard lock(mutex_);
    }
    condition_variable_.notify_all();
}

} // namespace vxqir
