// FrameBufferPool.h - byte buffers of spent frames, kept for the next ones.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

namespace vxqir::sim {

/// Keeps the byte buffers of frames that are done with (checksummed and
/// replaced by a newer one), so that the receive path fills memory that is
/// already mapped instead of a fresh allocation per frame: a 6 MB frame in
/// new memory costs some 1500 page faults, and its zeroing, on the receive
/// thread. Holds at most `capacity` buffers; more are freed.
///
/// Thread-safe: give() from any thread (the thread that drops a frame),
/// take() from any thread (the receive threads).
class FrameBufferPool {
public:
    explicit FrameBufferPool(size_t capacity) : capacity_(capacity) { }

    /// A kept buffer, emptied but with its capacity, or an empty vector
    /// when none is kept.
    std::vector<uint8_t> take();
    /// Keeps `buffer` (its bytes are dropped) unless the pool is full or
    /// the buffer holds no memory.
    void give(std::vector<uint8_t>&& buffer);
    /// Buffers kept at present.
    size_t kept() const;

private:
    const size_t capacity_;
    mutable std::mutex mutex_; // guards buffers_
    std::vector<std::vector<uint8_t>> buffers_;
};

} // namespace vxqir::sim
