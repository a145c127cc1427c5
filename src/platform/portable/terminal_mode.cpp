// Raw terminal input for the stand-in's keyboard, and the restoring of the terminal's mode at
// exit and in the handlers of the signals that end a process.
#include "portable/terminal_mode.h"

#include <errno.h>
#include <signal.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>

namespace standin {

namespace {

enum class Opened { not_yet, terminal, no_terminal };

Opened opened = Opened::not_yet;
termios original_mode;
// Set once the raw mode is on, cleared by whoever undoes it first. A lock-free atomic: safe in
// a signal handler, and its store orders original_mode before it for the handler, which may
// run on any thread.
std::atomic<int> raw_mode_on{0};
static_assert(std::atomic<int>::is_always_lock_free, "signal handlers need a lock-free flag");

const int ending_signals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGABRT};

// Async-signal-safe: puts the mode back, then lets the signal's default action end the
// process (SA_RESETHAND has reinstalled it; the signal is delivered once the handler returns).
void restore_and_reraise(int signal_number) {
    const int saved_errno = errno;
    if (raw_mode_on.exchange(0) != 0) {
        tcsetattr(STDIN_FILENO, TCSANOW, &original_mode);
    }
    raise(signal_number);
    errno = saved_errno;
}

void restore_at_exit() {
    restore_terminal();
}

// Only where the signal still has its default action: a signal the caller ignores stays
// ignored, and a handler someone else installed stays theirs.
void install_signal_handlers() {
    for (int signal_number : ending_signals) {
        struct sigaction current;
        if (sigaction(signal_number, nullptr, &current) != 0 || current.sa_handler != SIG_DFL) {
            continue;
        }
        struct sigaction handler = {};
        handler.sa_handler = restore_and_reraise;
        sigemptyset(&handler.sa_mask);
        handler.sa_flags = SA_RESETHAND;
        sigaction(signal_number, &handler, nullptr);
    }
}

bool enter_raw_mode() {
    if (!isatty(STDIN_FILENO) || tcgetpgrp(STDIN_FILENO) != getpgrp()) {
        return false;
    }
    if (tcgetattr(STDIN_FILENO, &original_mode) != 0) {
        return false;
    }
    termios raw = original_mode;
    // No line editing, no echo, no literal-next or flow-control keys, Enter as CR; ISIG stays.
    raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ECHONL | IEXTEN);
    raw.c_iflag &= ~static_cast<tcflag_t>(ICRNL | INLCR | IGNCR | IXON);
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    // Handlers first, so that no moment exists with the raw mode on and no way back.
    atexit(restore_at_exit);
    install_signal_handlers();
    raw_mode_on.store(1);
    if (tcsetattr(STDIN_FILENO, TCSANOW, &raw) != 0) {
        raw_mode_on.store(0);
        return false;
    }
    return true;
}

}  // namespace

bool open_terminal_input() {
    if (opened == Opened::not_yet) {
        opened = enter_raw_mode() ? Opened::terminal : Opened::no_terminal;
    }
    return opened == Opened::terminal;
}

void restore_terminal() {
    if (raw_mode_on.exchange(0) != 0) {
        tcsetattr(STDIN_FILENO, TCSANOW, &original_mode);
    }
}

}  // namespace standin
