// PlayoutModel.h - when the unit plays a block out of its replay FIFO.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

namespace vxqir::sim {

/// One replay FIFO entry: one block (the datagrams of one line up to the one
/// marked end of line).
struct FifoEntry {
    uint64_t arrivalNs = 0;   ///< unit time when the block's last datagram arrived
    uint64_t timestampNs = 0; ///< the block's timestamp from its sensor header
    uint16_t frameNumber = 0;
    uint16_t lineNumber = 0;
    uint32_t bytes = 0;
    uint64_t frameSerial = 0; ///< the channel's serial of the frame the block belongs to (0: none)
};

/// Replay times as last set by the client, in unit nanoseconds; 0 means
/// "not set" (the client sends no value of 0 on its own).
struct ReplayTimes {
    uint64_t offsetNs = 0;
    uint64_t startNs = 0;
    uint64_t stopNs = 0;
};

/// What the FIFO knows when it asks for the head entry's play time.
struct PlayoutContext {
    uint64_t playerFreeNs = 0; ///< the previous entry finished playing at this time
    ReplayTimes times;
    uint64_t firstArrivalNs = 0;   ///< arrival of the first block since enable or reset
    uint64_t firstTimestampNs = 0; ///< timestamp of that block
};

/// When and how the head entry leaves the FIFO.
struct PlayoutDecision {
    uint64_t dueNs = 0;   ///< unit time at which the entry is freed
    bool skipped = false; ///< freed without being played (after the stop time)
    /// Unit time the entry's timestamp asks for (0: the model plays by no
    /// timestamp). `dueNs` minus this is how late the entry played.
    uint64_t intendedNs = 0;
};

/// Strategy that schedules the head entry of a replay FIFO. Entries leave in
/// FIFO order, never before the previous one finished.
///
/// Thread-bound: used under the owning channel's lock.
class PlayoutModel {
public:
    virtual ~PlayoutModel() = default;
    virtual PlayoutDecision schedule(const FifoEntry& head, const PlayoutContext& context) const = 0;
    virtual std::string_view name() const = 0;
};

/// Frees every entry as soon as it arrives (and the FIFO is not frozen).
std::unique_ptr<PlayoutModel> makeImmediatePlayout();

/// Plays one entry per line period: an entry is freed one period after it
/// arrived or after the previous one finished, whichever is later.
/// `linesPerSecond` must be positive.
std::unique_ptr<PlayoutModel> makeLineRatePlayout(double linesPerSecond);

/// Plays each block when the unit clock reaches
///   start + (timestamp - offset)
/// where an unset start is the arrival of the first block since the channel
/// was enabled or reset, and an unset offset is that block's timestamp (so
/// the first block plays at once). A block never plays before it arrived:
/// one that comes after its time plays on arrival, late. A block that would
/// play after a set stop time is dropped when the clock reaches the stop
/// time. Timestamps before the offset play at the start.
std::unique_ptr<PlayoutModel> makeTimestampPlayout();

} // namespace vxqir::sim
