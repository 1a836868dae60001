// QIRBufferNotifier.h - flow control of one channel's sensor data.
#pragma once

#include "ReplayMessages.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <vector>

namespace vxqir {

// Fraction of the unit's replay FIFO that must be free before a block is sent.
inline constexpr double THRESHOLD = 0.2;
// How far the channel's packet counter may run ahead of the last packet the
// unit reported as received.
inline constexpr int32_t MAX_FUTURE_PACKETS = 16000;

// Follows the unit's free replay buffer and lets the sender wait for room.
//
// A periodic status tells how many FIFO entries were free when the unit had
// received everything up to its rx_packet_num. Blocks sent after that packet
// were still on their way and will take entries of their own, so the free
// count is the reported one minus those blocks in flight; on a link with
// latency (or a unit whose status lags) the sender would otherwise put more
// blocks in flight than the FIFO holds.
//
// The free count and the packet window are renewed by the listener thread
// (periodic status) and by the sender (blocks sent); the sender reads them
// without a lock and takes mutex_ only when it has to wait.
//
// Thread-safe. Writers: updateStatus (listener), setTotalBuffer (any caller),
// blockSent and decreaseAvailableBufferSlots (the one sending thread of the
// channel).
//
// Lock order: inFlightMutex_ is released before mutex_ is taken; the two are
// never held together.
class QIRBufferNotifier {
public:
    explicit QIRBufferNotifier(std::chrono::milliseconds timeout);

    // Takes free_fifo_entries and rx_packet_num of a periodic status, less
    // the blocks sent after rx_packet_num, and wakes every waiting sender.
    void updateStatus(const ReplayStatusMessage& message);

    // Stores the total number of FIFO entries and wakes every waiting sender.
    void setTotalBuffer(uint32_t totalTimestampBufferSlots);

    // Returns true as soon as a datagram numbered pck_no may be sent: the
    // FIFO size is known, at least THRESHOLD of it is free, and pck_no is at
    // most MAX_FUTURE_PACKETS ahead of the unit's last received packet.
    // Waits at most the timeout and then returns the condition's value.
    bool waitForFreeBuffer(uint16_t pck_no);

    // The unit's last received packet as the latest status reported it. A
    // sender reads it before a block's last datagram leaves and hands it to
    // blockSent.
    uint16_t lastReceivedPacket() const { return last_successful_packet_number_.load(std::memory_order_acquire); }

    // A block whose last datagram carried lastPacketNumber has been sent: it
    // takes one FIFO entry and stays in flight until a status acknowledges
    // that packet with a counter that has moved from rxBeforeSend, the
    // lastReceivedPacket() read before its last datagram left. (Read after,
    // a status that already acknowledged the block would make it wait for a
    // counter that never moves again when the unit's FIFO is frozen.)
    void blockSent(uint16_t lastPacketNumber, uint16_t rxBeforeSend);

    // One FIFO entry is used up by a block that sent no datagram (an empty
    // block); it is never acknowledged, so it is not kept in flight.
    void decreaseAvailableBufferSlots();

    // The sending condition on the current counters; does not wait.
    bool maySend(uint16_t pck_no) const { return maySendAfter(0, pck_no); }

    // The sending condition for a block that follows blocksAhead blocks not
    // yet sent (each will take one free entry): whether a run of blocks may
    // leave together exactly when each would have been let through alone.
    bool maySendAfter(uint32_t blocksAhead, uint16_t pck_no) const;

    uint32_t freeBufferSlots() const { return free_buffer_slots_.load(std::memory_order_acquire); }
    uint32_t totalBufferSlots() const { return total_buffer_slots_.load(std::memory_order_acquire); }
    // Blocks sent and not yet acknowledged by a status. Thread-safe.
    uint32_t blocksInFlight() const;

    // Forward distance from `from` to `to` on the 16-bit packet counter,
    // read as signed: positive when `to` lies ahead, negative when it lies
    // behind (by at most 32768).
    static int32_t packetDistance(uint16_t from, uint16_t to)
    {
        return static_cast<int16_t>(static_cast<uint16_t>(to - from));
    }

private:
    void wakeWaiters();
    // Drops the blocks acknowledged by rxPacket; requires inFlightMutex_.
    void acknowledgeUpTo(uint16_t rxPacket);

    // Acquire/release pairs are enough: each counter is a value of its own;
    // no reader needs a single consistent snapshot of all three, because a
    // stale combination only delays or advances one block by one status
    // period, exactly as a status message arriving a moment later would.
    // free_buffer_slots_ is written only under inFlightMutex_, so a status
    // and a block sent at the same moment never undo each other's count.
    std::atomic<uint32_t> free_buffer_slots_{ 0 };
    std::atomic<uint32_t> total_buffer_slots_{ 0 };
    std::atomic<uint16_t> last_successful_packet_number_{ 0 };

    struct InFlightBlock {
        uint16_t lastPacket = 0; // packet number of the block's last datagram
        uint16_t rxAtSend = 0;   // the unit's rx_packet_num known when it was sent
    };
    // The blocks in flight, oldest first, in a ring of one slot per packet
    // number: blocks in flight have distinct last packets, so it never holds
    // more (when it would, the oldest is dropped).
    mutable std::mutex inFlightMutex_; // guards inFlight_, inFlightHead_, inFlightCount_ and free-count writes
    std::vector<InFlightBlock> inFlight_;
    uint32_t inFlightHead_ = 0;
    uint32_t inFlightCount_ = 0;

    std::mutex mutex_; // serves the condition-variable wait only
    std::condition_variable condition_variable_;
    const std::chrono::milliseconds timeout_;
};

} // namespace vxqir
