#include "KeyControls.h"

#include "ContinueSignal.h"
#include "StopSignals.h"

#include <poll.h>
#include <pthread.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <exception>

namespace qir::replay {

namespace {

/// How long the reading thread waits for a key before it looks whether to
/// stop.
constexpr int kReadWaitMs = 50;

// The terminal as it was and in key mode, for the restores that run at
// exit, at a forced stop and at a suspension (inside signal handlers) and
// at std::terminate: plain data written before g_keyFd publishes it
// (release), read after it (acquire).
termios g_saved{};
termios g_keys{};
std::atomic<int> g_keyFd{ -1 };
static_assert(std::atomic<int>::is_always_lock_free);
// Whether the terminal is in key mode now: it leaves it while the replay is
// suspended (Ctrl-Z) and takes it again when continued in the foreground.
std::atomic<bool> g_inKeyMode{ false };
static_assert(std::atomic<bool>::is_always_lock_free);

/// Sets the terminal to `mode` with SIGTTOU blocked on this thread, so that
/// a process in the background changes it instead of being stopped.
/// Async-signal-safe.
void setMode(int fd, const termios& mode) noexcept
{
    sigset_t ttou;
    sigset_t before;
    sigemptyset(&ttou);
    sigaddset(&ttou, SIGTTOU);
    ::pthread_sigmask(SIG_BLOCK, &ttou, &before);
    ::tcsetattr(fd, TCSANOW, &mode);
    ::pthread_sigmask(SIG_SETMASK, &before, nullptr);
}

bool inForeground(int fd) noexcept
{
    return ::tcgetpgrp(fd) == ::getpgrp();
}

/// Puts the terminal back once, whoever comes first. Async-signal-safe.
void restoreTerminal() noexcept
{
    const int fd = g_keyFd.exchange(-1, std::memory_order_acq_rel);
    if (fd < 0)
        return;
    // Left in the mode it had while the replay was suspended; a replay
    // moved to the background meanwhile (Ctrl-Z, bg) must not take the
    // shell's terminal modes back to those of its start.
    if (!g_inKeyMode.exchange(false))
        return;
    setMode(fd, g_saved);
}

/// SIGTSTP (Ctrl-Z): puts the terminal back for the shell, stops as the
/// signal's default would, and on SIGCONT returns to what was running,
/// taking the keys again when in the foreground (fg, or a stop the kernel
/// discarded because no shell of the session could continue the replay).
void suspend(int) noexcept
{
    const int savedErrno = errno;
    const int fd = g_keyFd.load(std::memory_order_acquire);
    const bool restored = fd >= 0 && inForeground(fd) && g_inKeyMode.exchange(false);
    if (restored)
        setMode(fd, g_saved);
    struct sigaction stop { };
    stop.sa_handler = SIG_DFL;
    sigemptyset(&stop.sa_mask);
    struct sigaction mine { };
    ::sigaction(SIGTSTP, &stop, &mine);
    sigset_t tstp;
    sigemptyset(&tstp);
    sigaddset(&tstp, SIGTSTP);
    ::pthread_sigmask(SIG_UNBLOCK, &tstp, nullptr);
    ::raise(SIGTSTP); // stopped here until SIGCONT
    ::pthread_sigmask(SIG_BLOCK, &tstp, nullptr);
    ::sigaction(SIGTSTP, &mine, nullptr);
    if (restored && g_keyFd.load(std::memory_order_acquire) == fd && inForeground(fd) && !g_inKeyMode.exchange(true))
        setMode(fd, g_keys);
    errno = savedErrno;
}

std::terminate_handler g_previousTerminate = nullptr;

[[noreturn]] void restoreAndTerminate()
{
    restoreTerminal();
    if (g_previousTerminate)
        g_previousTerminate();
    std::abort();
}

} // namespace

void actOnKey(char key, PauseClock& pauses)
{
    switch (key) {
    case ' ':
        pauses.toggle();
        break;
    case 's':
    case 'S':
        pauses.step();
        break;
    case 'q':
    case 'Q':
    case '\x03':
        qir::tools::request_stop(SIGINT);
        break;
    default:
        break;
    }
}

std::unique_ptr<KeyControls> KeyControls::take(int fd, PauseClock& pauses)
{
    if (::isatty(fd) != 1 || ::tcgetpgrp(fd) != ::getpgrp() || g_keyFd.load() >= 0)
        return nullptr;
    termios saved{};
    if (::tcgetattr(fd, &saved) != 0)
        return nullptr;
    termios keys = saved;
    // Keys as typed, without echo; ISIG stays, so Ctrl-C, Ctrl-\ and Ctrl-Z
    // keep their signals.
    keys.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
    keys.c_cc[VMIN] = 1;
    keys.c_cc[VTIME] = 0;
    g_saved = saved;
    g_keys = keys;
    g_inKeyMode.store(true);
    g_keyFd.store(fd, std::memory_order_release);
    static const bool hooked = [] {
        std::atexit([] { restoreTerminal(); });
        g_previousTerminate = std::set_terminate(&restoreAndTerminate);
        return true;
    }();
    (void)hooked;
    qir::tools::set_forced_stop_action(&restoreTerminal);
    if (::tcsetattr(fd, TCSANOW, &keys) != 0) {
        restoreTerminal();
        return nullptr;
    }
    return std::unique_ptr<KeyControls>(new KeyControls(fd, pauses));
}

KeyControls::KeyControls(int fd, PauseClock& pauses) : fd_(fd), pauses_(pauses)
{
    struct sigaction onSuspend { };
    onSuspend.sa_handler = &suspend;
    sigemptyset(&onSuspend.sa_mask);
    onSuspend.sa_flags = SA_RESTART;
    ::sigaction(SIGTSTP, &onSuspend, &previousSuspend_);
    countContinues();
    reader_ = std::thread([this] { read(); });
}

KeyControls::~KeyControls()
{
    stopping_.store(true);
    reader_.join();
    restoreTerminal();
    ::sigaction(SIGTSTP, &previousSuspend_, nullptr);
    qir::tools::set_forced_stop_action(nullptr);
}

void KeyControls::read()
{
    // Reading from the terminal in the background would stop the whole
    // replay (SIGTTIN); blocked here, such a read fails with EIO instead.
    sigset_t ttin;
    sigemptyset(&ttin);
    sigaddset(&ttin, SIGTTIN);
    ::pthread_sigmask(SIG_BLOCK, &ttin, nullptr);
    uint64_t continuesSeen = continues();
    while (!stopping_.load()) {
        // Gone on after a stop (fg or bg after Ctrl-Z): in the foreground,
        // keys as typed again.
        const uint64_t continuesNow = continues();
        if (continuesNow != continuesSeen && inForeground(fd_)) {
            continuesSeen = continuesNow;
            if (g_keyFd.load() >= 0 && !g_inKeyMode.exchange(true))
                setMode(fd_, g_keys);
        }
        if (!inForeground(fd_)) {
            // In the background (Ctrl-Z, bg): the keys are the shell's.
            std::this_thread::sleep_for(std::chrono::milliseconds(kReadWaitMs));
            continue;
        }
        pollfd in{ .fd = fd_, .events = POLLIN, .revents = 0 };
        const int ready = ::poll(&in, 1, kReadWaitMs);
        if (ready <= 0)
            continue; // nothing typed, or a signal came
        if ((in.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0 && (in.revents & POLLIN) == 0)
            return; // the terminal went away
        char typed[32];
        const ssize_t got = ::read(fd_, typed, sizeof typed);
        if (got < 0 && (errno == EINTR || errno == EAGAIN || errno == EIO))
            continue; // EIO: moved to the background between the look and the read
        if (got <= 0)
            return;
        for (ssize_t k = 0; k < got; ++k)
            actOnKey(typed[k], pauses_);
    }
}

} // namespace qir::replay
