// OutputFile.h - an output file that appears under its name only when it is
// complete.
#pragma once

#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>

namespace qir::tools {

/// Raised when an output file cannot be opened, written or committed; the
/// text names the file and the reason.
class OutputFileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

/// A file written under a temporary name in the folder of its final path and
/// renamed to that path by commit(), so that readers never see half of it.
/// Until then the final path is left as it was. The temporary file is
/// removed when the object goes without commit() (a failure or an exception)
/// and, through StopSignals, when the program is stopped by a signal.
///
/// The constructor checks everything that can be checked before any work is
/// done: the path names no folder, its folder exists and takes a new file,
/// and it is not one of the program's input files (same device and inode,
/// hard and symbolic links included). A symbolic link as output path is
/// followed: the file it names is replaced. A new file gets the usual
/// permissions (0666 less the umask); a replaced file keeps its own.
///
/// Copying is deleted. Thread-bound.
class OutputFile {
public:
    /// `what` describes the file in messages ("summary file"). Throws
    /// OutputFileError.
    OutputFile(const std::string& path, std::string what, std::span<const std::string> inputs = {});
    ~OutputFile();

    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    /// Descriptor of the temporary file, for writers that need one (owned
    /// here; duplicate it to hand it to a FILE stream).
    int fd() const noexcept { return fd_; }
    /// The path given to the constructor.
    const std::string& path() const noexcept { return path_; }
    const std::string& temporary_path() const noexcept { return temporary_; }

    /// Writes all of `bytes`; throws OutputFileError naming the file and the
    /// system's reason (disk full, file size limit, ...).
    void write(std::span<const uint8_t> bytes);
    void write(std::string_view text);

    /// Closes the temporary file and renames it to the final path. Throws
    /// OutputFileError (the temporary file is then removed).
    void commit();

    /// Removes the temporary file now; nothing happens to the final path.
    void discard() noexcept;

    bool committed() const noexcept { return committed_; }

    /// Throws OutputFileError naming the file, `action` ("write") and the
    /// system's text for `error`; for writers that bypass write().
    [[noreturn]] void fail(const std::string& action, int error) const;

private:
    std::string path_;
    std::string what_;
    std::string target_; ///< path_ with a symbolic link followed
    std::string temporary_;
    int fd_ = -1;
    int slot_ = -1; ///< registration for removal at a stop signal
    bool committed_ = false;
};

} // namespace qir::tools
