// ByteWriter.h - bounds-checked writing into a caller's buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <type_traits>

namespace qir::data_types {

/// Writes fields one after the other into a span it does not own, and never
/// past its end.
///
/// A write that does not fit writes nothing and sets the overflow flag, which
/// stays set. Thread-bound.
class ByteWriter {
public:
    explicit ByteWriter(std::span<uint8_t> data) noexcept : data_(data) { }

    /// Writes a trivially copyable value in host (little-endian) order.
    template <typename T>
    void write(const T& value) noexcept
    {
        static_assert(std::is_trivially_copyable_v<T>);
        write_bytes({ reinterpret_cast<const uint8_t*>(&value), sizeof(T) });
    }

    void write_be16(uint16_t value) noexcept
    {
        const uint8_t bytes[2] = { static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value) };
        write_bytes(bytes);
    }

    void write_bytes(std::span<const uint8_t> bytes) noexcept
    {
        if (overflowed_ || bytes.size() > remaining()) {
            overflowed_ = true;
            return;
        }
        if (!bytes.empty())
            std::memcpy(data_.data() + position_, bytes.data(), bytes.size());
        position_ += bytes.size();
    }

    size_t position() const noexcept { return position_; }
    size_t remaining() const noexcept { return data_.size() - position_; }
    bool overflowed() const noexcept { return overflowed_; }

    /// The part of the buffer after what was written.
    std::span<uint8_t> rest() const noexcept { return data_.subspan(position_); }

private:
    std::span<uint8_t> data_;
    size_t position_ = 0;
    bool overflowed_ = false;
};

} // namespace qir::data_types
