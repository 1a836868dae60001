// FakePing.h - a stand-in for the system's ping, for tests of the
// library's reachability probe.
#pragma once

#include "ChildProcess.h"

#include <sys/types.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace qir::test {

/// A stand-in for ping, first on PATH while it lives: records its arguments
/// and process id in its folder, then sleeps `sleepSeconds` (and exits with
/// 0) or, for 0, exits with `status` at once.
class FakePing {
public:
    FakePing(int sleepSeconds, int status) : oldPath_(std::getenv("PATH") != nullptr ? std::getenv("PATH") : "")
    {
        char pattern[] = "/tmp/fake-ping-XXXXXX";
        folder_ = ::mkdtemp(pattern);
        const std::filesystem::path script = folder_ / "ping";
        {
            std::ofstream out(script);
            out << "#!/bin/sh\n"
                << "echo \"$@\" > '" << (folder_ / "args").string() << ".tmp'\n"
                << "echo $$ > '" << (folder_ / "pid").string() << "'\n"
                << "mv '" << (folder_ / "args").string() << ".tmp' '" << (folder_ / "args").string()
                << "'\n"
                // A sleeping ping is the sleep itself, so that stopping it
                // leaves nothing behind.
                << (sleepSeconds > 0 ? "exec sleep " + std::to_string(sleepSeconds) : "exit " + std::to_string(status))
                << "\n";
        }
        std::filesystem::permissions(script, std::filesystem::perms::owner_all);
        ::setenv("PATH", (folder_.string() + ":" + oldPath_).c_str(), 1);
    }
    ~FakePing()
    {
        ::setenv("PATH", oldPath_.c_str(), 1);
        std::filesystem::remove_all(folder_);
    }
    FakePing(const FakePing&) = delete;
    FakePing& operator=(const FakePing&) = delete;

    /// The arguments it was started with, once it has been ("" until then).
    std::string args() const { return readText(folder_ / "args"); }
    pid_t pid() const { return static_cast<pid_t>(std::stol("0" + readText(folder_ / "pid"))); }

private:
    std::string oldPath_;
    std::filesystem::path folder_;
};

} // namespace qir::test
