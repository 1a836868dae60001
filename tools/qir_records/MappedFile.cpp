#include "MappedFile.h"

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <utility>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qir::records {

namespace {

[[noreturn]] void fail(const std::string& path, const char* what, int error)
{
    throw std::runtime_error("cannot " + std::string(what) + " " + path + ": " + std::strerror(error));
}

/// Closes a descriptor when the mapping is made (or has failed).
struct FdCloser {
    int fd;
    ~FdCloser() { ::close(fd); }
};

} // namespace

MappedFile::MappedFile(const std::string& path) : path_(path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        fail(path, "open", errno);
    const FdCloser closer{ fd };
    struct stat info {};
    if (::fstat(fd, &info) != 0)
        fail(path, "examine", errno);
    if (!S_ISREG(info.st_mode))
        throw std::runtime_error("cannot read " + path + ": not a regular file");
    size_ = static_cast<size_t>(info.st_size);
    if (size_ == 0)
        return;
    void* mapping = ::mmap(nullptr, size_, PROT_READ, MAP_PRIVATE, fd, 0);
    if (mapping == MAP_FAILED) {
        const int error = errno;
        size_ = 0;
        fail(path, "map", error);
    }
    // Records are read front to back once.
    ::madvise(mapping, size_, MADV_SEQUENTIAL);
    data_ = static_cast<const uint8_t*>(mapping);
}

MappedFile::~MappedFile()
{
    unmap();
}

MappedFile::MappedFile(MappedFile&& other) noexcept
    : path_(std::move(other.path_)), data_(std::exchange(other.data_, nullptr)),
      size_(std::exchange(other.size_, 0))
{
}

MappedFile& MappedFile::operator=(MappedFile&& other) noexcept
{
    if (this != &other) {
        unmap();
        path_ = std::move(other.path_);
        data_ = std::exchange(other.data_, nullptr);
        size_ = std::exchange(other.size_, 0);
    }
    return *this;
}

void MappedFile::unmap() noexcept
{
    if (data_ != nullptr)
        ::munmap(const_cast<uint8_t*>(data_), size_);
    data_ = nullptr;
    size_ = 0;
}

} // namespace qir::records
