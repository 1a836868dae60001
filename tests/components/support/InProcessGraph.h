// Runs graphs of components in-process, with the engine stand-in's library,
// against an emulated unit on loopback (control 127.0.0.2, data 127.0.0.3,
// ports chosen by the system). The graphs' components are those linked into
// the test program.
#pragma once

#include "Graph.h"
#include "GraphRunner.h"
#include "UnitEmulator.h"

#include <memory>
#include <string>

namespace component_test {

inline constexpr const char* UNIT_CONTROL_IP = "127.0.0.2";
inline constexpr const char* UNIT_DATA_IP = "127.0.0.3";

/// Starts an emulated unit with `config` at the loopback unit addresses that
/// checksums every frame it completes and hands each to `observer` (called
/// on the unit's checksum thread, so it guards what it writes).
std::unique_ptr<vxqir::sim::UnitEmulator> StartLoopbackUnit(vxqir::sim::EmulatorConfig config,
                                                            vxqir::sim::FrameObserver observer);

/// Parses graph text `toml`, builds the graph from the components linked into
/// the test program and runs it until its [run] section ends it. `options`
/// takes the graph's `until` and `durationUs`; everything else in it stays
/// the caller's. `graph` and `runner` hold the graph and its runner after the
/// run (reset `runner` before `graph`). A graph that does not parse or does
/// not build fails the test with its errors and gives an empty result.
/// Thread-bound to the test's thread.
host::RunResult RunInProcess(const std::string& toml, host::RunOptions& options, std::unique_ptr<host::Graph>& graph,
                             std::unique_ptr<host::GraphRunner>& runner);

} // namespace component_test
