// MappedFile.h - a file mapped read-only into memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace qir::records {

/// Owns a read-only, private mapping of a whole file; unmaps it when
/// destroyed. An empty file gives an empty span. Copying is deleted, moving
/// is allowed. Thread-bound; the mapped bytes may be read from any thread.
///
/// A file that another program cuts short while it is mapped would kill the
/// reader with SIGBUS at the first byte past the new end. Instead, the pages
/// past the end read as zeros and the mapping remembers the offset of the
/// first byte that could not be read (cut_at()); readers check it before
/// they trust bytes (touch()).
class MappedFile {
public:
    /// Maps `path`; throws std::runtime_error naming the path and the
    /// system's reason when the file cannot be opened, examined or mapped.
    explicit MappedFile(const std::string& path);
    ~MappedFile();

    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;
    MappedFile(MappedFile&& other) noexcept;
    MappedFile& operator=(MappedFile&& other) noexcept;

    std::span<const uint8_t> bytes() const noexcept { return { data_, size_ }; }
    const std::string& path() const noexcept { return path_; }

    /// Reads one byte of every page of `range` (a part of bytes()), so that a
    /// cut in it shows in cut_at() before the bytes are used.
    void touch(std::span<const uint8_t> range) const noexcept;

    /// Offset of the first byte found missing because the file was cut short
    /// after it was mapped; nothing while every byte read was there.
    std::optional<uint64_t> cut_at() const noexcept;

    /// The file's size now (it may have changed since it was mapped).
    uint64_t current_size() const noexcept;

private:
    void unmap() noexcept;

    std::string path_;
    const uint8_t* data_ = nullptr;
    size_t size_ = 0;
    int fd_ = -1;
    int region_ = -1; ///< registration with the SIGBUS handler
};

} // namespace qir::records
