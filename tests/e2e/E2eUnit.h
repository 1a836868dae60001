// E2eUnit.h - an emulated unit and the client library's view of it, for the
// end-to-end tests.
#pragma once

#include "UnitEmulator.h"
#include "VXQIRApi.h"

#include <chrono>
#include <memory>
#include <string>

namespace vxqir::e2e {

/// Addresses of the emulated unit. Loopback only; the ports are chosen by
/// the system, so tests run side by side.
inline constexpr const char* CONTROL_IP = "127.0.0.2";
inline constexpr const char* DATA_IP = "127.0.0.3";
inline constexpr const char* LOCAL_IP = "127.0.0.1";

/// Generous bound for anything the tests wait for; nothing measures speed.
inline constexpr std::chrono::seconds WAIT{ 10 };

/// Starts an emulator with `config` (addresses filled in) and describes it
/// as the library's interface record. Thread-bound to the test.
class E2eUnit {
public:
    explicit E2eUnit(sim::EmulatorConfig config, uint16_t maxPayload = 1448, uint32_t timeoutGetMs = 2000,
                     uint32_t timeoutStreamMs = 5000);

    sim::UnitEmulator& emulator() { return *unit_; }
    /// The record to register channels with; its strings live as long as this object.
    const VXTQirInputInterfaceT& interface() const { return interface_; }

    sim::ChannelSnapshot channel(unsigned index) const { return unit_->snapshot().channels.at(index); }

    /// Waits until `predicate` holds for channel `index`.
    bool waitFor(unsigned index, const std::function<bool(const sim::ChannelSnapshot&)>& predicate);

private:
    std::unique_ptr<sim::UnitEmulator> unit_;
    VXTQirInputInterfaceT interface_{};
};

/// A channel registered with the library; unregistered on destruction.
class RegisteredChannel {
public:
    /// Registers channel `index` of `unit`; check ok() / result().
    RegisteredChannel(const E2eUnit& unit, VXTQirChannelNumber index);
    ~RegisteredChannel();
    RegisteredChannel(const RegisteredChannel&) = delete;
    RegisteredChannel& operator=(const RegisteredChannel&) = delete;

    VXTQirError result() const { return result_; }
    VXTQirChannelHandle handle() const { return handle_; }
    /// Unregisters now; returns the library's result.
    VXTQirError unregister();

private:
    VXTQirChannelHandle handle_ = -1;
    VXTQirError result_;
    bool registered_ = false;
};

/// Sends `frames` frames of the example pattern ((f*7 + l*3 + i) & 0xFF),
/// one block per line, frame numbers starting at `firstFrame`. Stops at the
/// first failure and returns it.
VXTQirError streamPatternFrames(VXTQirChannelHandle handle, uint16_t firstFrame, uint16_t frames, uint16_t width,
                                uint16_t height);

} // namespace vxqir::e2e
