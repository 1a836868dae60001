#include "BufferLines.h"

#include <cstdint>
#include <string>

namespace py = pybind11;

namespace qir::python {

namespace {

constexpr size_t kMaxLineBytes = UINT16_MAX;

[[noreturn]] void refuse(const std::string& message)
{
    throw py::value_error(message);
}

} // namespace

BufferLines::BufferLines(const py::handle& object, size_t lineCount, const char* what) : lineCount_(lineCount)
{
    if (PyObject_GetBuffer(object.ptr(), &view_, PyBUF_C_CONTIGUOUS) != 0) {
        // The exporter's own reason (BufferError, TypeError) is replaced by
        // one that names the argument; nothing was borrowed.
        PyErr_Clear();
        refuse(std::string(what) +
               ": needs a C-contiguous buffer of bytes (a numpy array in C order, bytes, "
               "bytearray or memoryview); got " +
               std::string(py::str(py::type::handle_of(object).attr("__name__"))) +
               " that is not C-contiguous or has no buffer");
    }
    try {
        const auto size = static_cast<size_t>(view_.len);
        if (size == 0)
            refuse(std::string(what) + ": the buffer is empty");
        if (lineCount == 0)
            refuse(std::string(what) + ": the frame height is 0");
        if (view_.ndim >= 2 && static_cast<size_t>(view_.shape[0]) != lineCount)
            refuse(std::string(what) + ": the buffer has " + std::to_string(view_.shape[0]) +
                   " rows in its first dimension, the frame has " + std::to_string(lineCount) + " lines");
        if (size % lineCount != 0)
            refuse(std::string(what) + ": " + std::to_string(size) + " bytes do not split into " +
                   std::to_string(lineCount) + " equal lines");
        if (size / lineCount > kMaxLineBytes)
            refuse(std::string(what) + ": a line of " + std::to_string(size / lineCount) +
                   " bytes is longer than the 65535 bytes a block can carry");
    } catch (...) {
        PyBuffer_Release(&view_);
        throw;
    }
    bytes_ = { static_cast<const uint8_t*>(view_.buf), static_cast<size_t>(view_.len) };
    lineBytes_ = static_cast<uint16_t>(bytes_.size() / lineCount);
}

BufferLines::~BufferLines()
{
    PyBuffer_Release(&view_);
}

} // namespace qir::python
