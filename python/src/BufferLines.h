// BufferLines.h - a Python buffer borrowed as equal lines of bytes.
#pragma once

#include <pybind11/pybind11.h>

#include <cstddef>
#include <cstdint>
#include <span>

namespace qir::python {

/// Borrows the bytes of a C-contiguous Python buffer (bytes, bytearray,
/// memoryview, numpy array, ...) without copying them, and cuts them into
/// `lineCount` lines of equal length.
///
/// The buffer stays exported (and so neither freed nor resized) for as long
/// as this object lives, so the bytes may be read with the GIL released.
/// Construct and destroy with the GIL held.
///
/// Refuses, by raising ValueError before anything else happens: a buffer
/// that is not C-contiguous, an empty one, one whose first dimension is not
/// `lineCount` (buffers of two or more dimensions), one whose size is not a
/// multiple of `lineCount`, and lines longer than 65535 bytes.
class BufferLines {
public:
    /// `what` names the argument in messages ("frame", "line").
    BufferLines(const pybind11::handle& object, size_t lineCount, const char* what);
    ~BufferLines();
    BufferLines(const BufferLines&) = delete;
    BufferLines& operator=(const BufferLines&) = delete;

    size_t lineCount() const { return lineCount_; }
    uint16_t lineBytes() const { return lineBytes_; }
    const uint8_t* line(size_t index) const { return bytes_.data() + index * lineBytes_; }

private:
    Py_buffer view_{};
    std::span<const uint8_t> bytes_;
    size_t lineCount_ = 0;
    uint16_t lineBytes_ = 0;
};

} // namespace qir::python
