// ToolRunner.h - runs a program in tests and collects its output, and a
// temporary directory that removes itself.
#pragma once

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <csignal>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace qir::data_types::test {

/// A fresh directory under the system's temporary directory, removed with
/// everything in it when the object goes.
class TempDir {
public:
    TempDir()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "qir-records-test-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr)
            throw std::runtime_error("mkdtemp failed: " + std::string(std::strerror(errno)));
        path_ = pattern;
    }
    ~TempDir()
    {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    std::string file(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

struct RunResult {
    int exit_code = -1; ///< -1 when the program could not start or did not exit normally
    std::string out;
    std::string err;
    std::string start_error; ///< why it could not start
};

inline std::string read_file(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

/// Runs `args` (args[0] looked up in PATH when it has no slash) with
/// standard output and error going to files in `dir`, and waits for it.
inline RunResult run(const std::vector<std::string>& args, const TempDir& dir)
{
    RunResult result;
    const std::string out = dir.file("stdout.txt");
    const std::string err = dir.file("stderr.txt");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<char*> argv;
    for (const std::string& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    const int rc = ::posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        result.start_error = "cannot start " + args[0] + ": " + std::strerror(rc);
        return result;
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) { }
    if (WIFEXITED(status))
        result.exit_code = WEXITSTATUS(status);
    result.out = read_file(out);
    result.err = read_file(err);
    return result;
}

/// A program running with its standard output into a pipe that the test
/// reads (so the program waits while the test does not read), standard
/// error into a file. Killed and reaped on destruction if still running.
class PipedProgram {
public:
    PipedProgram(const std::vector<std::string>& args, const TempDir& dir) : err_path_(dir.file("stderr.txt"))
    {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0)
            throw std::runtime_error("pipe failed: " + std::string(std::strerror(errno)));
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
        posix_spawn_file_actions_addopen(&actions, 2, err_path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        std::vector<char*> argv;
        for (const std::string& arg : args)
            argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        const int rc = ::posix_spawnp(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(fds[1]);
        out_ = fds[0];
        if (rc != 0) {
            pid_ = -1;
            throw std::runtime_error("cannot start " + args[0] + ": " + std::strerror(rc));
        }
    }
    ~PipedProgram()
    {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        ::close(out_);
    }
    PipedProgram(const PipedProgram&) = delete;
    PipedProgram& operator=(const PipedProgram&) = delete;

    /// Reads at least `count` bytes of standard output (fewer at its end).
    std::string read(size_t count)
    {
        std::string text;
        char buffer[4096];
        while (text.size() < count) {
            const ssize_t n = ::read(out_, buffer, sizeof(buffer));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            text.append(buffer, static_cast<size_t>(n));
        }
        return text;
    }
    /// Reads standard output to its end.
    std::string read_all() { return read(SIZE_MAX); }

    void signal(int sig) const { ::kill(pid_, sig); }

    /// Waits for the end; -1 when ended by a signal (reported in `how`).
    int wait(std::string* how = nullptr)
    {
        int status = 0;
        while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) { }
        pid_ = -1;
        if (WIFSIGNALED(status) && how != nullptr)
            *how = "killed by signal " + std::to_string(WTERMSIG(status));
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    std::string err() const { return read_file(err_path_); }

private:
    std::string err_path_;
    pid_t pid_ = -1;
    int out_ = -1;
};

/// Lines of `text`, without their line ends.
inline std::vector<std::string> lines(const std::string& text)
{
    std::vector<std::string> all;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        all.push_back(line);
    return all;
}

inline void write_file(const std::string& path, const std::vector<uint8_t>& bytes)
{
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path);
}

} // namespace qir::data_types::test
