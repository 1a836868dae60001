// The reachability probe: one ping, run without a shell, waited for in a way
// that a signal interrupts (see is_available in socket.h).
#include "Diagnostics.h"
#include "VXQIRProbe.h"
#include "socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>

extern char** environ;

namespace vxqir {

namespace {

// How the wait for ping ended: it exited (status filled in), the wait was
// interrupted (ping still runs), or ping was reaped elsewhere (a process
// that ignores SIGCHLD reaps its children itself; the result is unknown).
enum class PingWait { Exited, Interrupted, Lost };

// Interruptions asked for by InterruptReachabilityProbes; a probe that sees
// the count change while it waits gives up. Lock-free, so that a signal
// handler may count.
std::atomic<uint64_t> gInterrupts{ 0 };
static_assert(std::atomic<uint64_t>::is_always_lock_free);

// How often a waiting probe looks at gInterrupts.
constexpr int INTERRUPT_CHECK_MS = 50;

// Waits for the child to end, for a caught signal or for
// InterruptReachabilityProbes. With a process descriptor (Linux 5.3 on) the
// wait is a poll on it, which a caught signal interrupts whatever the
// handler's SA_RESTART; without one, a poll on nothing between looks.
PingWait waitForPing(pid_t pid, int& status, uint64_t interruptsAtStart)
{
    int pidfd = -1;
#ifdef SYS_pidfd_open
    pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
#endif
    PingWait result = PingWait::Interrupted;
    for (;;) {
        pollfd ready{ pidfd, POLLIN, 0 }; // a negative descriptor is ignored
        const int polled = ::poll(&ready, 1, INTERRUPT_CHECK_MS);
        // ping may have ended at the moment a signal came, which then counts.
        const pid_t waited = ::waitpid(pid, &status, WNOHANG);
        if (waited == pid) {
            result = PingWait::Exited;
            break;
        }
        if (waited < 0 && errno != EINTR) {
            result = PingWait::Lost;
            break;
        }
        if (polled < 0 || gInterrupts.load(std::memory_order_relaxed) != interruptsAtStart)
            break;
    }
    if (pidfd >= 0)
        ::close(pidfd);
    return result;
}

// Stops a ping that is no longer waited for and reaps it.
void stopPing(pid_t pid)
{
    ::kill(pid, SIGKILL);
    while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) { }
}

} // namespace

void InterruptReachabilityProbes() noexcept
{
    gInterrupts.fetch_add(1, std::memory_order_relaxed);
}

bool is_available(const char* ip)
{
    const uint64_t interruptsAtStart = gInterrupts.load(std::memory_order_relaxed);
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
    switch (waitForPing(pid, status, interruptsAtStart)) {
    case PingWait::Exited:
        return WIFEXITED(status) && WEXITSTATUS(status) == 0;
    case PingWait::Interrupted:
        stopPing(pid);
        diagnose(DiagnosticStream::Output, "[Debug] ping of IP %s interrupted", rendered);
        return false;
    case PingWait::Lost:
        diagnose(DiagnosticStream::Output, "[Debug] ping of IP %s ended unseen", rendered);
        return false;
    }
    return false;
}

} // namespace vxqir
