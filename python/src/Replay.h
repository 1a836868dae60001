// Replay.h - the replay of recordings (as qir-replay runs it) from Python.
#pragma once

#include <pybind11/pybind11.h>

namespace qir::python {

/// Binds qir._qir.replay: runs qir-replay's replay in this process and
/// returns (summary JSON text, output text, error text). The package's
/// qir.replay turns that into a qir.ReplaySummary.
void bindReplay(pybind11::module_& m);

} // namespace qir::python
