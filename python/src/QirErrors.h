// QirErrors.h - the library's result codes as Python exceptions.
#pragma once

#include "VXQIRApi.h"

namespace qir::python {

/// Raises qir.QirError(code, text) with the library's own text of `code`
/// (VXQIR_ErrorToString) by setting the Python error and throwing
/// pybind11::error_already_set. Needs the GIL.
[[noreturn]] void raiseQirError(VXTQirError code);

/// Returns when `code` is NoError, raises qir.QirError otherwise. Needs the
/// GIL.
inline void check(VXTQirError code)
{
    if (code != NoError)
        raiseQirError(code);
}

/// Runs the pending Python signal handlers (Ctrl-C raises KeyboardInterrupt
/// from its handler) and throws pybind11::error_already_set when one
/// raised. Needs the GIL; only the main thread runs handlers.
void throwIfInterrupted();

} // namespace qir::python
