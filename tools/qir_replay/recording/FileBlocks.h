// FileBlocks.h - reads a file forward in large blocks with pread, so that
// checking a long recording runs at the speed the page cache delivers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

namespace qir::replay {

/// A window of a file, refilled by pread in blocks of at least `blockBytes`.
/// Used on one thread; the file descriptor stays owned by the caller.
class FileBlocks {
public:
    FileBlocks(int fd, size_t fileSize, std::string path, size_t blockBytes = size_t{ 16 } << 20);

    /// The `length` bytes at `offset` (offset + length must lie within the
    /// file size given), valid until the next call. Throws RecordingError
    /// naming the file and byte when the file no longer holds them.
    std::span<const uint8_t> at(size_t offset, size_t length);

private:
    int fd_;
    size_t fileSize_;
    std::string path_;
    size_t blockBytes_;
    std::unique_ptr<uint8_t[]> buffer_;
    size_t capacity_ = 0;
    size_t start_ = 0;  ///< file offset of buffer_[0]
    size_t filled_ = 0; ///< bytes of the window
};

} // namespace qir::replay
