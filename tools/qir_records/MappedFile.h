// MappedFile.h - a file mapped read-only into memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace qir::records {

/// Owns a read-only, private mapping of a whole file; unmaps it when
/// destroyed. An empty file gives an empty span. Copying is deleted, moving
/// is allowed. Thread-bound; the mapped bytes may be read from any thread.
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

private:
    void unmap() noexcept;

    std::string path_;
    const uint8_t* data_ = nullptr;
    size_t size_ = 0;
};

} // namespace qir::records
