// VXQIRProbe.h - giving up the reachability probe, for code linked with the
// library core (our tools, the package's components). Not exported from
// libvxqir.so.
#pragma once

namespace vxqir {

// Ends every reachability probe (VXQIR_IsInputInterfaceAvailable) waiting
// in this process within about 50 ms, as a signal caught on its own thread
// would: ping is stopped and the probe fails, so the call returns
// ControlInterfaceNotAvailable or DataInterfaceNotAvailable. Probes started
// afterwards run as usual.
//
// Async-signal-safe: meant for a program's SIGINT handler when the thread
// that probes is not the one that takes the signal (a signal caught on the
// probing thread interrupts the probe by itself).
void InterruptReachabilityProbes() noexcept;

} // namespace vxqir
