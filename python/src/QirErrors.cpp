#include "QirErrors.h"

#include <pybind11/pybind11.h>

namespace py = pybind11;

namespace qir::python {

void raiseQirError(VXTQirError code)
{
    py::object errorClass = py::module_::import("qir._errors").attr("QirError");
    py::object error = errorClass(static_cast<int32_t>(code), VXQIR_ErrorToString(code));
    PyErr_SetObject(errorClass.ptr(), error.ptr());
    throw py::error_already_set();
}

void throwIfInterrupted()
{
    if (PyErr_CheckSignals() != 0)
        throw py::error_already_set();
}

} // namespace qir::python
