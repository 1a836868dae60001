#include "KeyControls.h"

#include "StopSignals.h"

#include <poll.h>
#include <pthread.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <exception>

namespace qir::replay {

namespace {

/// How long the reading thread waits for a key before it looks whether to
/// stop.
constexpr int kReadWaitMs = 50;

// The terminal as it was, for the restores that run at exit, at a forced
// stop (inside a signal handler) and at std::terminate: plain data written
// before g_keyFd publishes it (release), read after it (acquire).
termios g_saved{};
std::atomic<int> g_keyFd{ -1 };
static_assert(std::atomic<int>::is_always_lock_free);

/// Puts the terminal back once, whoever comes first. Async-signal-safe.
void restoreTerminal() noexcept
{
    const int fd = g_keyFd.exchange(-1, std::memory_order_acq_rel);
    if (fd < 0)
        return;
    // A replay moved to the background meanwhile (Ctrl-Z, bg) would be
    // stopped by SIGTTOU at its end instead of putting the terminal back.
    sigset_t ttou;
    sigset_t before;
    sigemptyset(&ttou);
    sigaddset(&ttou, SIGTTOU);
    ::pthread_sigmask(SIG_BLOCK, &ttou, &before);
    ::tcsetattr(fd, TCSANOW, &g_saved);
    ::pthread_sigmask(SIG_SETMASK, &before, nullptr);
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

KeyControls::KeyControls(int fd, PauseClock& pauses) : fd_(fd), pauses_(pauses), reader_([this] { read(); })
{ }

KeyControls::~KeyControls()
{
    stopping_.store(true);
    reader_.join();
    restoreTerminal();
    qir::tools::set_forced_stop_action(nullptr);
}

void KeyControls::read()
{
    while (!stopping_.load()) {
        pollfd in{ .fd = fd_, .events = POLLIN, .revents = 0 };
        const int ready = ::poll(&in, 1, kReadWaitMs);
        if (ready <= 0)
            continue; // nothing typed, or a signal came
        if ((in.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0 && (in.revents & POLLIN) == 0)
            return; // the terminal went away
        char typed[32];
        const ssize_t got = ::read(fd_, typed, sizeof typed);
        if (got == 0 || (got < 0 && errno != EINTR && errno != EAGAIN))
            return;
        for (ssize_t k = 0; k < got; ++k)
            actOnKey(typed[k], pauses_);
    }
}

} // namespace qir::replay
