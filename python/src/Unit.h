// Unit.h - one QIR unit as seen from Python: its addresses and timeouts.
#pragma once

#include "VXQIRApi.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

namespace qir::python {

class Channel;

/// Where a unit is and how long the library waits for it. Registers nothing
/// by itself: channels are registered by channel().
///
/// Thread-bound to the Python object that owns it (the GIL serialises use).
class Unit {
public:
    static constexpr uint16_t kDefaultControlPort = 65024;
    static constexpr uint16_t kDefaultDataBasePort = 61440;

    /// `control` and `data` are "IP" or "IP:PORT" (PORT 1..65535; the
    /// defaults are 65024 and 61440, the unit's own). Raises ValueError for a port that is
    /// not a number in range; the IP text itself is judged by the library
    /// when a channel is registered (InvalidInterfaceConfig).
    Unit(const std::string& control, const std::string& data, uint16_t maxPayload, uint32_t timeoutGetMs,
         uint32_t timeoutStreamMs);

    /// Pings both addresses (a success is remembered for 20 s). True when
    /// both answer, false when one does not; QirError for a configuration
    /// the library refuses. Releases the GIL while it waits.
    bool available() const;

    /// Registers channel `index` (0..255) and returns it. QirError from the
    /// library (InvalidChannelIndex, ChannelAlreadyRegistered, ...).
    std::unique_ptr<Channel> channel(int32_t index) const;

    /// The configuration handed to the library. Its sending timeout is a
    /// slice of the caller's (see Channel), so that a blocked send comes
    /// back to check for Ctrl-C several times a second.
    VXTQirInputInterfaceT interface() const;

    const std::string& controlIp() const { return controlIp_; }
    uint16_t controlPort() const { return controlPort_; }
    const std::string& dataIp() const { return dataIp_; }
    uint16_t dataBasePort() const { return dataBasePort_; }
    uint16_t maxPayload() const { return maxPayload_; }
    uint32_t timeoutGetMs() const { return timeoutGetMs_; }
    uint32_t timeoutStreamMs() const { return timeoutStreamMs_; }

private:
    std::string controlIp_;
    uint16_t controlPort_;
    std::string dataIp_;
    uint16_t dataBasePort_;
    uint16_t maxPayload_;
    uint32_t timeoutGetMs_;
    uint32_t timeoutStreamMs_;
};

/// The longest single wait for free replay buffer inside the library; a
/// send that waits longer comes back, checks for Ctrl-C and waits again
/// until the caller's timeout has passed without progress.
inline constexpr std::chrono::milliseconds kSendSlice{ 200 };

} // namespace qir::python
