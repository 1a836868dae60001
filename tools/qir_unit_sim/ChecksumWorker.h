// ChecksumWorker.h - verifies complete frames off the receive path.
#pragma once

#include "CompletedFrame.h"
#include "FrameBufferPool.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace vxqir::sim {

/// Called on the checksum thread for every frame checksummed, with its
/// FNV-1a checksum (Fnv1a64), in completion order per channel. While one
/// such observer is added, every frame's checksum is computed (about a
/// nanosecond per byte).
using FrameObserver = std::function<void(const CompletedFrame& frame, uint64_t checksum)>;

/// Called on the checksum thread for every frame checksummed, with its
/// digest (FrameDigest, XXH3), in completion order per channel.
using DigestObserver = std::function<void(const CompletedFrame& frame, uint64_t digest)>;

/// Checksum results of one channel.
struct ChecksumResult {
    uint64_t framesChecksummed = 0; ///< frames whose digest was taken
    uint64_t framesNotChecksummed = 0;
    /// FNV-1a checksum of the latest complete frame checksummed (left empty
    /// by ChecksumWorker::counts()).
    std::optional<uint64_t> lastChecksum;
    uint16_t lastFrameNumber = 0;
    std::optional<uint64_t> lastDigest; ///< digest of the same frame
};

/// Hands on the digest (XXH3) of complete frames on a thread of its own.
/// A frame that arrived in line order brings the digest its receive thread
/// took while the bytes were still in the cache; the digest of any other is
/// taken here, so that the receive threads never read a whole frame back
/// from memory. The FNV-1a checksum that a unit reports is computed only
/// when it is read: the worker keeps each channel's latest frame checksummed
/// and hashes it when result() asks first (once per frame), or for every
/// frame while a FrameObserver is added.
///
/// At most `backlogFrames` frames wait. When another arrives, the oldest
/// waiting frame is passed over (counted per channel) unless `everyFrame` is
/// set, in which case the submitting thread waits for room. The newest frame
/// of a channel is therefore always checksummed.
///
/// Thread-safe: submit, drain and result from any thread; observers are
/// added before start.
class ChecksumWorker {
public:
    ChecksumWorker(size_t backlogFrames, bool everyFrame);
    /// Stops and joins the thread, dropping frames still waiting.
    ~ChecksumWorker();
    ChecksumWorker(const ChecksumWorker&) = delete;
    ChecksumWorker& operator=(const ChecksumWorker&) = delete;

    /// Thread-bound: before start().
    void addObserver(FrameObserver observer);
    void addDigestObserver(DigestObserver observer);
    void start();

    /// Queues frames (moved from `frames`, which is left empty).
    void submit(std::vector<CompletedFrame>& frames);

    /// Waits until every frame submitted so far is done.
    void drain();

    /// Waits until at least `frames` frames were handled (checksummed or
    /// passed over) and nothing is waiting. A receive thread submits the
    /// frames it completed right after counting them, so a caller that saw
    /// `frames` complete frames in a snapshot waits here for their checksums.
    void drainUntil(uint64_t frames);

    /// The channel's results, with the checksum of its latest frame
    /// (computed here, outside the lock, if nobody read it before).
    ChecksumResult result(uint8_t channel) const;
    /// As result(), without the checksum: costs no hashing.
    ChecksumResult counts(uint8_t channel) const;

    /// Where the buffers of frames this worker is done with go (a frame
    /// passed over, a channel's latest frame once a newer one replaces it),
    /// for the receive path to fill again.
    const std::shared_ptr<FrameBufferPool>& frameBuffers() const { return frameBuffers_; }

private:
    /// A channel's results and the frame its latest checksum is taken of.
    struct ChannelResults {
        ChecksumResult result;
        std::shared_ptr<const CompletedFrame> lastFrame;
    };

    void run();

    const size_t backlogFrames_;
    const bool everyFrame_;
    const std::shared_ptr<FrameBufferPool> frameBuffers_;
    std::vector<FrameObserver> observers_;        // fixed once the thread runs
    std::vector<DigestObserver> digestObservers_; // fixed once the thread runs

    mutable std::mutex mutex_; // guards queue_, handled_, busy_, stopping_, results_ (not the frames they share)
    std::condition_variable workAvailable_;
    std::condition_variable spaceOrIdle_;
    std::deque<CompletedFrame> queue_;
    uint64_t handled_ = 0; // frames checksummed or passed over
    bool busy_ = false;
    bool stopping_ = false;
    mutable std::vector<ChannelResults> results_; // indexed by channel number; result() caches checksums
    std::thread thread_;
};

} // namespace vxqir::sim
