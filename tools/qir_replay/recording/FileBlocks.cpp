#include "FileBlocks.h"

#include "Recording.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace qir::replay {

FileBlocks::FileBlocks(int fd, size_t fileSize, std::string path, size_t blockBytes)
    : fd_(fd)
    , fileSize_(fileSize)
    , path_(std::move(path))
    , blockBytes_(blockBytes)
{ }

std::span<const uint8_t> FileBlocks::at(size_t offset, size_t length)
{
    if (offset >= start_ && offset - start_ <= filled_ && length <= filled_ - (offset - start_))
        return { buffer_.get() + (offset - start_), length };
    const size_t want = std::min(std::max(length, blockBytes_), fileSize_ - std::min(offset, fileSize_));
    if (want > capacity_) {
        buffer_ = std::make_unique_for_overwrite<uint8_t[]>(want);
        capacity_ = want;
    }
    start_ = offset;
    filled_ = 0;
    while (filled_ < want) {
        const ssize_t n = ::pread(fd_, buffer_.get() + filled_, want - filled_, static_cast<off_t>(offset + filled_));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            throw RecordingError(path_ + ": byte " + std::to_string(offset + filled_) + ": cannot read: " +
                                 (n < 0 ? std::strerror(errno) : "the file is shorter than when it was opened"));
        filled_ += static_cast<size_t>(n);
    }
    if (length > filled_)
        throw RecordingError(path_ + ": byte " + std::to_string(offset) + ": cannot read " + std::to_string(length) +
                             " bytes past the end of the file");
    return { buffer_.get(), length };
}

} // namespace qir::replay
