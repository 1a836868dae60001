// ByteReader.h - bounds-checked reading of bytes that come from outside.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <type_traits>

namespace qir {

/// Reads fields one after the other from a span it does not own, and never
/// past its end.
///
/// A read that would go past the end reads nothing, returns a zero value
/// (or an empty span), leaves the position where it was and sets the
/// overflow flag, which stays set: every later read fails too. A parser reads
/// a whole header and checks `overflowed()` once.
///
/// Thread-bound: one reader belongs to the thread that parses one datagram
/// or record.
class ByteReader {
public:
    /// Reads from `data`, which must outlive the reader.
    explicit ByteReader(std::span<const uint8_t> data) noexcept : data_(data) { }

    /// Reads a trivially copyable value in host (little-endian) order, as the
    /// packed record and wire headers are stored.
    template <typename T>
    T read() noexcept
    {
        static_assert(std::is_trivially_copyable_v<T>);
        T value{};
        const std::span<const uint8_t> bytes = read_bytes(sizeof(T));
        if (!bytes.empty())
            std::memcpy(&value, bytes.data(), sizeof(T));
        return value;
    }

    uint8_t read_u8() noexcept { return read<uint8_t>(); }

    /// Reads a big-endian (network order) 16-bit value.
    uint16_t read_be16() noexcept
    {
        const std::span<const uint8_t> b = read_bytes(2);
        return b.empty() ? 0 : static_cast<uint16_t>((b[0] << 8) | b[1]);
    }

    /// Reads a big-endian (network order) 32-bit value.
    uint32_t read_be32() noexcept
    {
        const std::span<const uint8_t> b = read_bytes(4);
        if (b.empty())
            return 0;
        return (uint32_t{ b[0] } << 24) | (uint32_t{ b[1] } << 16) | (uint32_t{ b[2] } << 8) | b[3];
    }

    /// Returns the next `count` bytes and moves past them, or an empty span
    /// (and sets the overflow flag) when fewer remain.
    std::span<const uint8_t> read_bytes(size_t count) noexcept
    {
        if (overflowed_ || count > remaining()) {
            overflowed_ = true;
            return {};
        }
        const std::span<const uint8_t> bytes = data_.subspan(position_, count);
        position_ += count;
        return bytes;
    }

    /// Moves `count` bytes on; past the end it sets the overflow flag.
    void skip(size_t count) noexcept { read_bytes(count); }

    /// The bytes not read yet (all that follow the position).
    std::span<const uint8_t> rest() const noexcept { return data_.subspan(position_); }

    size_t position() const noexcept { return position_; }
    size_t remaining() const noexcept { return data_.size() - position_; }
    size_t size() const noexcept { return data_.size(); }
    bool overflowed() const noexcept { return overflowed_; }

private:
    std::span<const uint8_t> data_;
    size_t position_ = 0;
    bool overflowed_ = false;
};

} // namespace qir
