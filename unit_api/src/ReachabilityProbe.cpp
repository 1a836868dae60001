// The reachability probe: one ping, run without a shell, waited for in a way
// that a signal interrupts (see is_available in socket.h).
#include "Diagnostics.h"
#include "socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

extern char** environ;

namespace vxqir {

namespace {

// How the wait for ping ended.
enum class PingWait { Exited, Interrupted };

// Waits for the child to end. With a process descriptor (Linux 5.3 on) the
// wait is a poll on it, which a caught signal interrupts whatever the
// handler's SA_RESTART; without one, waitpid, which a handler installed
// without SA_RESTART interrupts.
PingWait waitForPing(pid_t pid, int& status)
{
#ifdef SYS_pidfd_open
    const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    if (pidfd >= 0) {
        pollfd ready{ pidfd, POLLIN, 0 };
        const int polled = ::poll(&ready, 1, -1);
        ::close(pidfd);
        // A signal whose handler reaped or awaited nothing: ping may have
        // ended at the same moment, which then counts.
        if (::waitpid(pid, &status, polled > 0 ? 0 : WNOHANG) == pid)
            return PingWait::Exited;
        return PingWait::Interrupted;
    }
#endif
    if (::waitpid(pid, &status, 0) == pid)
        return PingWait::Exited;
    return PingWait::Interrupted;
}

// Stops a ping that is no longer waited for and reaps it.
void stopPing(pid_t pid)
{
    ::kill(pid, SIGKILL);
    while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) { }
}

} // namespace

bool is_available(const char* ip)
{
    in_addr parsed{};
    if (ip == nullptr || ::inet_pton(AF_INET, ip, &parsed) != 1)
        return false;
    char rendered[INET_ADDRSTRLEN] = {};
    if (::inet_ntop(AF_INET, &parsed, rendered, sizeof(rendered)) == nullptr)
        return false;

    posix_spawn_file_actions_t files;
    if (::posix_spawn_file_actions_init(&files) != 0)
        return false;
    ::posix_spawn_file_actions_addopen(&files, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    ::posix_spawn_file_actions_adddup2(&files, STDOUT_FILENO, STDERR_FILENO);

    // ping starts with no signal blocked and the usual dispositions of the
    // stop signals, whatever the calling thread blocks or the process
    // ignores: a Ctrl-C at the terminal stops it as well.
    posix_spawnattr_t attributes;
    if (::posix_spawnattr_init(&attributes) != 0) {
        ::posix_spawn_file_actions_destroy(&files);
        return false;
    }
    sigset_t none;
    sigemptyset(&none);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGINT);
    sigaddset(&defaults, SIGTERM);
    sigaddset(&defaults, SIGHUP);
    sigaddset(&defaults, SIGPIPE);
    ::posix_spawnattr_setsigmask(&attributes, &none);
    ::posix_spawnattr_setsigdefault(&attributes, &defaults);
    ::posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    char program[] = "ping";
    char count[] = "-c1";
    char size[] = "-s1";
    char wait[] = "-W1";
    char* argv[] = { program, count, size, wait, rendered, nullptr };
    pid_t pid = -1;
    const int spawned = ::posix_spawnp(&pid, program, &files, &attributes, argv, environ);
    ::posix_spawnattr_destroy(&attributes);
    ::posix_spawn_file_actions_destroy(&files);
    if (spawned != 0) {
        diagnose(DiagnosticStream::Output, "[Debug] ping could not be started (errno %d)", spawned);
        return false;
    }

    int status = 0;
    if (waitForPing(pid, status) == PingWait::Interrupted) {
        stopPing(pid);
        diagnose(DiagnosticStream::Output, "[Debug] ping of IP %s interrupted by a signal", rendered);
        return false;
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

} // namespace vxqir
