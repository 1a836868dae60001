#include "QIRBufferNotifier.h"

namespace vxqir {

QIRBufferNotifier::QIRBufferNotifier(std::chrono::milliseconds timeout) : timeout_(timeout) {}

void QIRBufferNotifier::updateStatus(const ReplayStatusMessage& message)
{
    free_buffer_slots_.store(message.payload.status.free_fifo_entries, std::memory_order_release);
    last_successful_packet_number_.store(message.payload.status.rx_packet_num,
                                         std::memory_order_release);
    wakeWaiters();
}

void QIRBufferNotifier::setTotalBuffer(uint32_t totalTimestampBufferSlots)
{
    total_buffer_slots_.store(totalTimestampBufferSlots, std::memory_order_release);
    wakeWaiters();
}

void QIRBufferNotifier::decreaseAvailableBufferSlots()
{
    // Never below zero: a status message may have set the count to 0 after
    // the sender saw room for this block.
    uint32_t current = free_buffer_slots_.load(std::memory_order_relaxed);
    while (current > 0 &&
           !free_buffer_slots_.compare_exchange_weak(current, current - 1, std::memory_order_acq_rel,
                                                     std::memory_order_relaxed)) {
    }
}

bool QIRBufferNotifier::maySend(uint16_t pck_no) const
{
    const uint32_t total = total_buffer_slots_.load(std::memory_order_acquire);
    const uint32_t free = free_buffer_slots_.load(std::memory_order_acquire);
    if (total == 0 || free == 0)
        return false;
    if (static_cast<double>(free) / static_cast<double>(total) < THRESHOLD)
        return false;
    // Widened, not taken modulo 65536: once our counter has wrapped and the
    // unit's has not, the difference is negative and the sender proceeds.
    const int32_t ahead = static_cast<int32_t>(pck_no) -
                          static_cast<int32_t>(last_successful_packet_number_.load(std::memory_order_acquire));
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
    { std::lock_guard lock(mutex_); }
    condition_variable_.notify_all();
}

} // namespace vxqir
