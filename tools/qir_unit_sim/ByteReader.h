// ByteReader.h - bounds-checked reading of bytes that came from outside.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <type_traits>

namespace vxqir::sim {

/// Reads little-endian values and packed records from a byte span without
/// ever touching a byte past its end.
///
/// A read that does not fit sets a sticky overflow flag and yields a
/// value-initialised result; the caller checks `overflowed()` once after
/// reading a whole message instead of after every field.
///
/// Thread-bound: one reader belongs to the thread that parses one datagram.
class ByteReader {
public:
    explicit ByteReader(std::span<const uint8_t> bytes) : bytes_(bytes) { }

    /// Copies a trivially copyable record (a packed wire struct) from the
    /// current position and advances past it. On overflow returns T{} and
    /// leaves the position unchanged.
    template <typename T>
    T read()
    {
        static_assert(std::is_trivially_copyable_v<T>);
        T value{};
        if (!fits(sizeof(T))) {
            overflow_ = true;
            return value;
        }
        std::memcpy(&value, bytes_.data() + position_, sizeof(T));
        position_ += sizeof(T);
        return value;
    }

    /// Returns the next `count` bytes and advances past them; an empty span
    /// and the overflow flag when fewer are left.
    std::span<const uint8_t> take(size_t count)
    {
        if (!fits(count)) {
            overflow_ = true;
            return {};
        }
        auto out = bytes_.subspan(position_, count);
        position_ += count;
        return out;
    }

    /// The bytes not read yet.
    std::span<const uint8_t> rest() const { return bytes_.subspan(position_); }

    size_t remaining() const { return bytes_.size() - position_; }
    size_t size() const { return bytes_.size(); }
    bool overflowed() const { return overflow_; }

private:
    bool fits(size_t count) const { return count <= bytes_.size() - position_; }

    std::span<const uint8_t> bytes_;
    size_t position_ = 0;
    bool overflow_ = false;
};

} // namespace vxqir::sim
