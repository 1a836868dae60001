// StopSignals.h - a clean stop on SIGINT and SIGTERM for programs that work
// in a loop.
#pragma once

namespace qir::tools {

/// Installs handlers for SIGINT and SIGTERM. The first signal only sets a
/// flag that the program's loop polls (stop_requested()), so the program
/// ends at a point of its choosing, says what was done and exits 130. A
/// second signal removes every unfinished OutputFile and ends the program at
/// once with 130. SIGXFSZ is ignored, so that exceeding the file size limit
/// becomes a write error (EFBIG) that the program reports, instead of a
/// silent death. Call once, early in main, before threads start.
void install_stop_signals();

/// Ignores SIGXFSZ only (for programs that take their stop signals in
/// another way).
void ignore_file_size_signal();

/// True once SIGINT or SIGTERM arrived. Async-signal-safe.
bool stop_requested() noexcept;

/// The signal that asked for the stop, 0 when none.
int stop_signal() noexcept;

/// Asks for a stop as `signal` arriving would (the first one), for a host
/// that takes the signals itself, such as the Python interpreter running
/// a replay in-process. Async-signal-safe.
void request_stop(int signal) noexcept;

/// Forgets a stop that was asked for, so that a host which runs several
/// loops in one process can start the next one. Call only while no loop
/// polls stop_requested().
void clear_stop_request() noexcept;

/// Sets what a second signal does before it ends the program (such as
/// putting the terminal back as it was); null: nothing. `action` must be
/// async-signal-safe. Thread-safe.
void set_forced_stop_action(void (*action)() noexcept) noexcept;

/// Exit status of a program stopped by a signal.
inline constexpr int kExitInterrupted = 130;

namespace detail {

/// Registers a temporary path for removal at a forced stop; returns a slot
/// number, or -1 when all slots are taken (the file is then only removed by
/// its owner). The string must outlive the registration.
int register_temporary(const char* path) noexcept;
void unregister_temporary(int slot) noexcept;
/// Removes every registered temporary file. Async-signal-safe.
void remove_temporaries() noexcept;

} // namespace detail

} // namespace qir::tools
