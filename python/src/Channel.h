// Channel.h - one registered output channel as seen from Python.
#pragma once

#include "VXQIRApi.h"
#include "VXQIRBatch.h"

#include <pybind11/pybind11.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>

namespace qir::python {

/// A channel registered on a unit, until close() unregisters it (the
/// destructor does so too). After close() every call raises
/// QirError(InvalidChannelHandle), as the library answers a stale handle.
///
/// Every call that waits for the unit releases the GIL. Sending waits at
/// most kSendSlice at a time inside the library and checks for Ctrl-C in
/// between, so an interrupted send raises KeyboardInterrupt promptly; the
/// frame it was sending then stays incomplete at the unit.
///
/// Thread-bound: the owning Python object is used under the GIL. The blocks
/// of one channel must come from one thread at a time, so a send started
/// while another Python thread's send on the same channel waits (without
/// the GIL) raises RuntimeError instead.
class Channel {
public:
    Channel(VXTQirChannelHandle handle, int32_t index, std::chrono::milliseconds sendTimeout);
    ~Channel();
    Channel(const Channel&) = delete;
    Channel& operator=(const Channel&) = delete;

    /// Unregisters the channel; later calls do nothing.
    void close();
    bool closed() const { return closed_; }
    int32_t index() const { return index_; }

    void init(uint16_t width, uint16_t height);
    /// Sends one block; `line` and `stream` are checked for range.
    void sendLine(const pybind11::handle& data, int64_t frame, int64_t line, uint64_t timestamp, int64_t stream);
    /// Sends `data` as the `height` lines of one frame in one batched call.
    void sendFrame(const pybind11::handle& data, int64_t frame, uint64_t timestamp);
    /// Times in microseconds; see the Python documentation for the order.
    void setReplayTimes(std::optional<uint64_t> startUs, std::optional<uint64_t> stopUs,
                        std::optional<uint64_t> offsetUs);
    void reset();
    void clearStatusFlags();
    /// A qir.Status; QirError(DataNotAvailable) before the first status.
    pybind11::object status() const;
    /// A qir.Progress of what was sent and acknowledged.
    pybind11::object progress() const;
    /// (width, height) as the unit reports them.
    pybind11::tuple frameSize();

private:
    // Sends the blocks in slices of the library's wait until all went, the
    // caller's timeout passed without progress (Timeout) or Ctrl-C came.
    void sendBlocks(std::span<const vxqir::ReplayBlock> blocks);

    VXTQirChannelHandle handle_;
    int32_t index_;
    std::chrono::milliseconds sendTimeout_;
    uint16_t height_ = 0; // from init() or frameSize(); 0 until then
    bool closed_ = false;
    bool sending_ = false; // a send of this channel runs; read and written under the GIL
};

} // namespace qir::python
