#include "OutputFile.h"

#include "StopSignals.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qir::tools {

namespace {

std::string reason(int error)
{
    return std::strerror(error);
}

/// The folder part of `path` ("." for a bare name) and the file name.
std::pair<std::string, std::string> split(const std::string& path)
{
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return { ".", path };
    return { slash == 0 ? "/" : path.substr(0, slash), path.substr(slash + 1) };
}

mode_t new_file_mode()
{
    // umask can only be read by setting it. It is read once, at the first
    // output file, which programs open before they start threads that could
    // create files at the same moment.
    static const mode_t mode = [] {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        return static_cast<mode_t>(0666 & ~mask);
    }();
    return mode;
}

} // namespace

OutputFile::OutputFile(const std::string& path, std::string what, std::span<const std::string> inputs)
    : path_(path)
    , what_(std::move(what))
    , target_(path)
{
    const std::string prefix = what_ + " " + path_ + ": ";
    if (path_.empty())
        throw OutputFileError(what_ + ": the path is empty");

    struct stat existing { };
    const bool exists = ::stat(path_.c_str(), &existing) == 0;
    if (exists && S_ISDIR(existing.st_mode))
        throw OutputFileError(prefix + "is a folder; give the path of a file to write");
    if (exists && !S_ISREG(existing.st_mode))
        throw OutputFileError(prefix + "is not a regular file; it is left alone");
    for (const std::string& input : inputs) {
        struct stat in { };
        if (exists && ::stat(input.c_str(), &in) == 0 && in.st_dev == existing.st_dev && in.st_ino == existing.st_ino)
            throw OutputFileError(prefix + "is the input file " + input +
                                  "; writing it would destroy what is being read. Choose another output");
    }

    struct stat link { };
    if (::lstat(path_.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
        std::error_code ec;
        const auto resolved = std::filesystem::weakly_canonical(path_, ec);
        if (ec)
            throw OutputFileError(prefix + "cannot follow the symbolic link: " + ec.message());
        target_ = resolved.string();
    }

    const auto [folder, name] = split(target_);
    struct stat folder_info { };
    if (::stat(folder.c_str(), &folder_info) != 0)
        throw OutputFileError(prefix + "cannot write into folder " + folder + ": " + reason(errno));
    if (!S_ISDIR(folder_info.st_mode))
        throw OutputFileError(prefix + folder + " is not a folder");

    temporary_ = folder + "/." + name + ".XXXXXX";
    std::vector<char> pattern(temporary_.begin(), temporary_.end());
    pattern.push_back('\0');
    fd_ = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (fd_ < 0) {
        const int error = errno;
        temporary_.clear();
        throw OutputFileError(prefix + "cannot create a file in " + folder + ": " + reason(error));
    }
    temporary_.assign(pattern.data());
    slot_ = detail::register_temporary(temporary_.c_str());
    const mode_t mode = exists ? (existing.st_mode & 07777) : new_file_mode();
    ::fchmod(fd_, mode);
}

OutputFile::~OutputFile()
{
    discard();
}

void OutputFile::fail(const std::string& action, int error) const
{
    throw OutputFileError(what_ + " " + path_ + ": cannot " + action + ": " + reason(error));
}

void OutputFile::write(std::span<const uint8_t> bytes)
{
    if (fd_ < 0)
        throw OutputFileError(what_ + " " + path_ + ": written after it was closed");
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd_, bytes.data(), bytes.size());
        if (n < 0) {
            // A stop signal interrupts a write; the caller's loop sees the flag.
            if (errno == EINTR)
                continue;
            fail("write", errno);
        }
        bytes = bytes.subspan(static_cast<size_t>(n));
    }
}

void OutputFile::write(std::string_view text)
{
    write(std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
}

void OutputFile::commit()
{
    if (fd_ < 0)
        throw OutputFileError(what_ + " " + path_ + ": committed after it was closed");
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) {
        const int error = errno;
        discard();
        fail("write", error);
    }
    if (::rename(temporary_.c_str(), target_.c_str()) != 0) {
        const int error = errno;
        const std::string action = "rename " + temporary_ + " to it";
        discard();
        fail(action, error);
    }
    detail::unregister_temporary(slot_);
    slot_ = -1;
    committed_ = true;
}

void OutputFile::discard() noexcept
{
    detail::unregister_temporary(slot_);
    slot_ = -1;
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    if (!committed_ && !temporary_.empty())
        ::unlink(temporary_.c_str());
    temporary_.clear();
}

} // namespace qir::tools
