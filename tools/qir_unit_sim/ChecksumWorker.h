// ChecksumWorker.h - computes frame checksums off the receive path.
#pragma once

#include "CompletedFrame.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace vxqir::sim {

/// Called on the checksum thread for every frame whose checksum was
/// computed, in completion order per channel.
using FrameObserver = std::function<void(const CompletedFrame& frame, uint64_t checksum)>;

/// Checksum results of one channel.
struct ChecksumResult {
    uint64_t framesChecksummed = 0;
    uint64_t framesNotChecksummed = 0;
    std::optional<uint64_t> lastChecksum; ///< of the latest complete frame checksummed
    uint16_t lastFrameNumber = 0;
};

/// Hashes complete frames (FNV-1a 64) on a thread of its own, so that the
/// receive threads only copy bytes and never fall behind the sender because
/// of the hash, which costs about a nanosecond per byte.
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

    ChecksumResult result(uint8_t channel) const;

private:
    void run();

    const size_t backlogFrames_;
    const bool everyFrame_;
    std::vector<FrameObserver> observers_; // fixed once the thread runs

    mutable std::mutex mutex_; // guards queue_, handled_, busy_, stopping_, results_
    std::condition_variable workAvailable_;
    std::condition_variable spaceOrIdle_;
    std::deque<CompletedFrame> queue_;
    uint64_t handled_ = 0; // frames checksummed or passed over
    bool busy_ = false;
    bool stopping_ = false;
    std::vector<ChecksumResult> results_; // indexed by channel number
    std::thread thread_;
};

} // namespace vxqir::sim
