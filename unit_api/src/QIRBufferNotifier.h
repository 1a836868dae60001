// QIRBufferNotifier.h - flow control of one channel's sensor data.
#pragma once

#include "ReplayMessages.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace vxqir {

// Fraction of the unit's replay FIFO that must be free before a block is sent.
inline constexpr double THRESHOLD = 0.2;
// How far the channel's packet counter may run ahead of the last packet the
// unit reported as received.
inline constexpr int32_t MAX_FUTURE_PACKETS = 16000;

// Follows the unit's free replay buffer and lets the sender wait for room.
//
// The counters are renewed by the listener thread (periodic status) and by
// the caller that prepares the channel (total FIFO size); the sender reads
// them without a lock and takes mutex_ only when it has to wait.
//
// Thread-safe. Writers: updateStatus (listener), setTotalBuffer (any caller),
// decreaseAvailableBufferSlots (the one sending thread of the channel).
class QIRBufferNotifier {
public:
    explicit QIRBufferNotifier(std::chrono::milliseconds timeout);

    // Takes free_fifo_entries and rx_packet_num of a periodic status and wakes
    // every waiting sender.
    void updateStatus(const ReplayStatusMessage& message);

    // Stores the total number of FIFO entries and wakes every waiting sender.
    void setTotalBuffer(uint32_t totalTimestampBufferSlots);

    // Returns true as soon as a datagram numbered pck_no may be sent: the
    // FIFO size is known, at least THRESHOLD of it is free, and pck_no is at
    // most MAX_FUTURE_PACKETS ahead of the unit's last received packet.
    // Waits at most the timeout and then returns the condition's value.
    bool waitForFreeBuffer(uint16_t pck_no);

    // One FIFO entry is used up by a block just sent.
    void decreaseAvailableBufferSlots();

    // The sending condition on the current counters; does not wait.
    bool maySend(uint16_t pck_no) const;

    uint32_t freeBufferSlots() const { return free_buffer_slots_.load(std::memory_order_acquire); }
    uint32_t totalBufferSlots() const { return total_buffer_slots_.load(std::memory_order_acquire); }

private:
    void wakeWaiters();

    // Acquire/release pairs are enough: each counter is a value of its own;
    // no reader needs a single consistent snapshot of all three, because a
    // stale combination only delays or advances one block by one status
    // period, exactly as a status message arriving a moment later would.
    std::atomic<uint32_t> free_buffer_slots_{ 0 };
    std::atomic<uint32_t> total_buffer_slots_{ 0 };
    std::atomic<uint16_t> last_successful_packet_number_{ 0 };

    std::mutex mutex_; // serves the condition-variable wait only
    std::condition_variable condition_variable_;
    const std::chrono::milliseconds timeout_;
};

} // namespace vxqir
