#include "StopSignals.h"

#include <array>
#include <atomic>
#include <csignal>

#include <unistd.h>

namespace qir::tools {

namespace {

// Written by the signal handler, read by the program's loop. Lock-free
// atomics are async-signal-safe; sequentially consistent order costs nothing
// at this rate.
std::atomic<int> g_stop_signal{ 0 };
static_assert(std::atomic<int>::is_always_lock_free);

// What a second signal does before it ends the program.
std::atomic<void (*)() noexcept> g_forced_stop_action{ nullptr };
static_assert(std::atomic<void (*)() noexcept>::is_always_lock_free);

constexpr size_t kTemporarySlots = 16;
// Paths of unfinished output files. A slot holds a pointer to a string that
// its OutputFile keeps alive while registered.
std::array<std::atomic<const char*>, kTemporarySlots> g_temporaries{};
static_assert(std::atomic<const char*>::is_always_lock_free);

void on_stop_signal(int signal)
{
    int expected = 0;
    if (g_stop_signal.compare_exchange_strong(expected, signal))
        return;
    // A second signal: the program did not stop in time, or the user insists.
    detail::remove_temporaries();
    if (const auto action = g_forced_stop_action.load())
        action();
    static constexpr char kText[] = "\nstopped at once by a second signal; unfinished output files removed\n";
    [[maybe_unused]] const ssize_t ignored = ::write(STDERR_FILENO, kText, sizeof(kText) - 1);
    ::_exit(kExitInterrupted);
}

} // namespace

void install_stop_signals()
{
    struct sigaction action { };
    action.sa_handler = on_stop_signal;
    sigemptyset(&action.sa_mask);
    // No SA_RESTART: a blocking read or write returns EINTR so that the loop
    // sees the flag soon.
    action.sa_flags = 0;
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
    ignore_file_size_signal();
}

void set_forced_stop_action(void (*action)() noexcept) noexcept
{
    g_forced_stop_action.store(action);
}

void ignore_file_size_signal()
{
    std::signal(SIGXFSZ, SIG_IGN);
}

bool stop_requested() noexcept
{
    return g_stop_signal.load() != 0;
}

int stop_signal() noexcept
{
    return g_stop_signal.load();
}

void request_stop(int signal) noexcept
{
    int expected = 0;
    g_stop_signal.compare_exchange_strong(expected, signal);
}

void clear_stop_request() noexcept
{
    g_stop_signal.store(0);
}

namespace detail {

int register_temporary(const char* path) noexcept
{
    for (size_t i = 0; i < kTemporarySlots; ++i) {
        const char* expected = nullptr;
        if (g_temporaries[i].compare_exchange_strong(expected, path))
            return static_cast<int>(i);
    }
    return -1;
}

void unregister_temporary(int slot) noexcept
{
    if (slot >= 0 && static_cast<size_t>(slot) < kTemporarySlots)
        g_temporaries[static_cast<size_t>(slot)].store(nullptr);
}

void remove_temporaries() noexcept
{
    for (auto& slot : g_temporaries) {
        if (const char* path = slot.exchange(nullptr))
            ::unlink(path);
    }
}

} // namespace detail

} // namespace qir::tools
