// KeyControls.h - the keys of a replay on a terminal: space pauses and
// resumes, s steps one frame while paused, q ends the replay as Ctrl-C does.
//
// The terminal is taken out of line editing and echo (each key counts as it
// is typed; Ctrl-C and the other signal keys stay signals) while the
// controls live, and put back as it was when they end, at exit, at the
// forced stop of a second signal, and while the replay is suspended
// (Ctrl-Z): continued in the foreground (fg), it takes the keys again; in
// the background (bg) it leaves the terminal to the shell. Keys are read on
// a thread of their own.
#pragma once

#include "PauseClock.h"

#include <atomic>
#include <csignal>
#include <memory>
#include <thread>

namespace qir::replay {

/// The line that lists the keys, without its line end.
inline constexpr const char* kKeysLine =
    "keys: space pauses and resumes, s steps one frame while paused, q ends the replay (as Ctrl-C)";

/// Acts on one key typed: space toggles `pauses`, s or S steps it, q, Q (or
/// Ctrl-C, should it arrive as a byte) asks for a stop as Ctrl-C does
/// (qir::tools::request_stop). Other keys do nothing. Thread-safe.
void actOnKey(char key, PauseClock& pauses);

/// Owns the terminal's key mode and the thread that reads the keys.
///
/// Thread-bound to its owner; the reading thread only calls actOnKey.
class KeyControls {
public:
    /// Takes keys from `fd` for `pauses` when `fd` is a terminal whose
    /// foreground this process is (a replay in the background must not
    /// touch the terminal); nullptr otherwise, with the terminal untouched.
    /// At most one lives at a time. `pauses` must outlive the controls.
    static std::unique_ptr<KeyControls> take(int fd, PauseClock& pauses);

    /// Stops reading and puts the terminal back as it was.
    ~KeyControls();
    KeyControls(const KeyControls&) = delete;
    KeyControls& operator=(const KeyControls&) = delete;

private:
    KeyControls(int fd, PauseClock& pauses);
    void read();

    int fd_;
    PauseClock& pauses_;
    std::atomic<bool> stopping_{ false };  // set by the owner, polled by the thread
    struct sigaction previousSuspend_ { }; // SIGTSTP as it was before the controls
    std::thread reader_;
};

} // namespace qir::replay
