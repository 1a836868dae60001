// ChildProcess.h - a program under test running in a child process, for
// tests that run our programs as a user does.
#pragma once

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace qir::test {

/// The whole text of a file ("" when it cannot be read).
inline std::string readText(const std::filesystem::path& path)
{
    std::ifstream in(path);
    return { std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>() };
}

/// A private folder made on construction, and a program started in a child
/// process with its standard output and error in the folder's files "stdout"
/// and "stderr". On destruction a program still running is killed and
/// reaped, and the folder removed. Thread-bound to the test.
class ChildProcess {
public:
    /// Makes the folder (temp dir/`folderPrefix`-XXXXXX); starts nothing yet,
    /// so that arguments can name files in it.
    explicit ChildProcess(const std::string& folderPrefix)
    {
        std::string pattern = (std::filesystem::temp_directory_path() / (folderPrefix + "-XXXXXX")).string();
        if (::mkdtemp(pattern.data()) != nullptr)
            folder_ = pattern;
    }
    ~ChildProcess()
    {
        if (pid_ > 0 && !exited_) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        if (!folder_.empty())
            std::filesystem::remove_all(folder_);
    }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    /// Runs `argv` (argv[0] the program's path). `fileSizeLimit` (bytes, 0:
    /// none) limits every file the program writes.
    void start(std::vector<std::string> argv, rlim_t fileSizeLimit = 0)
    {
        // Everything the child needs is prepared before the fork: between
        // fork and exec only async-signal-safe calls are made.
        std::vector<char*> pointers;
        for (auto& a : argv)
            pointers.push_back(a.data());
        pointers.push_back(nullptr);
        const std::string outPath = file("stdout").string();
        const std::string errPath = file("stderr").string();
        pid_ = ::fork();
        if (pid_ == 0) {
            const int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            ::dup2(out, STDOUT_FILENO);
            ::dup2(err, STDERR_FILENO);
            if (fileSizeLimit > 0) {
                const rlimit limit{ fileSizeLimit, fileSizeLimit };
                ::setrlimit(RLIMIT_FSIZE, &limit);
            }
            ::execv(pointers[0], pointers.data());
            ::_exit(127);
        }
    }

    const std::filesystem::path& folder() const { return folder_; }
    std::filesystem::path file(const std::string& name) const { return folder_ / name; }
    /// The text the program wrote so far to `name` ("stdout", "stderr" or a
    /// file of its own in the folder).
    std::string output(const std::string& name) const { return readText(file(name)); }
    void signal(int sig) const { ::kill(pid_, sig); }

    /// The exit code, or -1 when the program ended by a signal or did not
    /// end within `timeout`.
    int exitCode(std::chrono::steady_clock::duration timeout)
    {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        int status = 0;
        while (::waitpid(pid_, &status, WNOHANG) != pid_) {
            if (std::chrono::steady_clock::now() > deadline)
                return -1;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        exited_ = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

private:
    std::filesystem::path folder_;
    pid_t pid_ = -1;
    bool exited_ = false;
};

} // namespace qir::test
