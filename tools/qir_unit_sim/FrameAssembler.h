// FrameAssembler.h - reassembles a channel's lines into frames.
#pragma once

#include "CompletedFrame.h"
#include "FrameBufferPool.h"
#include "FrameDigest.h"
#include "SensorDatagram.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string_view>
#include <utility>
#include <vector>

namespace vxqir::sim {

/// Why a frame ended without being complete.
enum class IncompleteReason : uint8_t {
    Interrupted,  ///< a new frame started before this one ended
    MissingLines, ///< the end-of-frame mark came while lines were missing
    PacketLoss,   ///< datagrams of the frame were lost (a packet-number gap)
    LineError,    ///< a line outside the frame, or a misplaced end-of-frame mark
    Oversized,    ///< more bytes than the emulator keeps for one frame
    NoFrameSize,  ///< the frame size was never set, so no frame can be complete
    FifoOverflow, ///< a block of the frame found the replay FIFO full
};
inline constexpr size_t INCOMPLETE_REASON_COUNT = 7;
std::string_view incompleteReasonName(IncompleteReason reason);

struct AssemblyCounters {
    uint64_t framesStarted = 0; ///< = complete + incomplete + the one still open, if any
    uint64_t framesComplete = 0;
    uint64_t framesIncomplete = 0;
    uint64_t lineErrors = 0;
    std::array<uint64_t, INCOMPLETE_REASON_COUNT> incompleteByReason{};
};

/// Puts a channel's sensor datagrams back together into frames.
///
/// A frame collects the datagrams of one frame number. It is complete when
/// all lines 0..height-1 (the height set with SET_FRAME_SIZE when the frame
/// began) ended with an end-of-line mark, the end-of-frame mark came on line
/// height-1, and no datagram of it was lost or out of place. It ends
/// incomplete when its end-of-frame mark comes without that, when a datagram
/// of another frame number arrives first, when a line that already ended
/// starts again (the sender began the next frame under the same number), or
/// when the run is reset. After a frame ends, the next datagram begins a new
/// frame, even under the same number. A frame whose block found no room in
/// the replay FIFO is incomplete too: it cannot reach the device under test.
///
/// Every frame begun gets a serial number (1, 2, ...) and ends in exactly
/// one of the counts; the frames that ended since the last call are handed
/// out by takeEndedFrames(), so the owner can follow them through its FIFO.
///
/// A frame holds at most `maxFrameBytes`, counting the bookkeeping of its
/// pieces as well as their bytes, so that no flood of tiny datagrams makes
/// it grow without bound; datagrams without payload add nothing.
///
/// Thread-bound: guarded by the owning channel's lock.
class FrameAssembler {
public:
    /// Takes the block that an end-of-line datagram completes into the replay
    /// FIFO; false when there was no room. Called with the frame's serial.
    using BlockQueue = std::function<bool(uint64_t frameSerial, const SensorDatagram& lastDatagram)>;

    /// A frame that ended, complete or not.
    struct EndedFrame {
        uint64_t serial = 0;
        bool complete = false;
        uint16_t lines = 0; ///< lines of a complete frame
    };

    /// `channel` is stamped on completed frames; a frame holding more than
    /// `maxFrameBytes` ends as Oversized (its bytes are not kept). A frame
    /// begins in a buffer taken from `buffers` when it has one (the
    /// checksum thread gives spent frames' buffers back there).
    FrameAssembler(uint8_t channel, size_t maxFrameBytes, std::shared_ptr<FrameBufferPool> buffers = nullptr);

    /// Geometry for frames that begin from now on.
    void setGeometry(uint16_t width, uint16_t height);

    /// Adds one valid datagram. `afterGap` says that datagrams were lost
    /// right before it. A frame completed by it is moved to `completed`. An
    /// end-of-line datagram hands its block to `queue` (when given) before
    /// the frame's verdict.
    void add(const SensorDatagram& datagram, bool afterGap, std::vector<CompletedFrame>& completed,
             const BlockQueue& queue = {});

    /// Ends the open frame (if it holds anything) as incomplete.
    void abandon();

    const AssemblyCounters& counters() const { return counters_; }
    bool frameOpen() const { return open_; }
    /// Memory the open frame holds for its bytes and pieces.
    size_t heldBytes() const { return data_.capacity() + segments_.capacity() * sizeof(Segment); }
    /// Serial of the open frame (or of the last one, when none is open).
    uint64_t frameSerial() const { return counters_.framesStarted; }
    /// The frames that ended since the previous call, in order.
    std::vector<EndedFrame> takeEndedFrames() { return std::exchange(ended_, {}); }

private:
    struct Segment {
        uint16_t line;
        uint32_t offset;
        uint32_t length;
    };

    void begin(const SensorDatagram& datagram);
    void endIncomplete(IncompleteReason reason);
    void damage(IncompleteReason reason);
    void store(uint16_t line, std::span<const uint8_t> payload);
    void finish(std::vector<CompletedFrame>& completed);

    uint8_t channel_;
    size_t maxFrameBytes_;
    std::shared_ptr<FrameBufferPool> buffers_;
    uint16_t width_ = 0;
    uint16_t height_ = 0;
    AssemblyCounters counters_;

    // The open frame.
    bool open_ = false;
    uint16_t frameNumber_ = 0;
    uint16_t frameWidth_ = 0;
    uint16_t frameHeight_ = 0;
    uint64_t timestampNs_ = 0;
    bool damaged_ = false;
    IncompleteReason damage_ = IncompleteReason::Interrupted;
    std::vector<uint8_t> data_;
    std::vector<Segment> segments_;
    bool inLineOrder_ = true;
    // Digest of data_ while every piece came in line order: taken on bytes
    // just copied, still in the cache, instead of reading the whole frame
    // back from memory later.
    FrameDigest digest_;
    std::vector<uint8_t> lineDone_;
    uint32_t linesDone_ = 0;
    size_t expectedFrameBytes_ = 0;
    std::vector<EndedFrame> ended_;
};

} // namespace vxqir::sim
