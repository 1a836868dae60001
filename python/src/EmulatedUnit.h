// EmulatedUnit.h - an emulated unit on loopback inside the Python process.
#pragma once

#include "UnitEmulator.h"

#include <pybind11/pybind11.h>

#include <memory>
#include <optional>
#include <string>

namespace qir::python {

/// Serves the unit's side of the protocol on loopback addresses, from
/// construction until stop(), and tells per channel what arrived.
///
/// Thread-bound to the owning Python object (the GIL serialises use); the
/// emulator's own threads run without the GIL and never call into Python.
class EmulatedUnit {
public:
    /// `playout` is "timestamps" (plays each block at its timestamp's time
    /// from the first one on) or "immediate". Raises ValueError for a
    /// setting out of range or an address outside 127.0.0.0/8, RuntimeError
    /// when a socket cannot be bound.
    EmulatedUnit(unsigned channels, uint32_t fifoEntries, const std::string& playout, const std::string& controlIp,
                 const std::string& dataIp);
    ~EmulatedUnit();
    EmulatedUnit(const EmulatedUnit&) = delete;
    EmulatedUnit& operator=(const EmulatedUnit&) = delete;

    /// Stops serving; counters stay readable. Idempotent.
    void stop();

    /// "IP:PORT" of the control socket and of channel 0's data port.
    std::string control() const;
    std::string data() const;

    /// Waits until `count` frames of `channel` have ended (complete or not)
    /// and have their checksums, or `timeoutS` passed; true when they
    /// have. Releases the GIL.
    bool waitForFrames(unsigned channel, uint64_t count, double timeoutS) const;

    /// A list of qir.ChannelSummary, one per channel, after every frame
    /// ended so far has its checksum.
    pybind11::list summary() const;

    /// Holds (or lets go) the replay FIFO of one channel or, with no
    /// channel, of all: held entries are never played, so a sender fills
    /// the FIFO and then waits.
    void freezeFifo(std::optional<unsigned> channel);
    void releaseFifo(std::optional<unsigned> channel);

private:
    void checkChannel(unsigned channel) const;

    std::unique_ptr<vxqir::sim::UnitEmulator> unit_;
};

} // namespace qir::python
