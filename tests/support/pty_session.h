// Runs a program in a pseudo-terminal as a user at a console would: what it writes to the
// screen, keys typed at it, its exit status and the terminal's mode before, during and after.
// POSIX hosts only.
#pragma once

#ifndef _WIN32

#include <sys/types.h>
#include <termios.h>

#include <string>
#include <vector>

namespace testing_support {

struct PtyExit {
    bool ended = false;     // false: still running when the time limit passed
    bool exited = false;    // ended through exit or a return from main
    int exit_status = -1;   // when exited
    int signal_number = 0;  // when killed by a signal
};

class PtySession {
  public:
    PtySession() = default;
    PtySession(const PtySession&) = delete;
    PtySession& operator=(const PtySession&) = delete;
    // Kills a program still running and closes the terminal.
    ~PtySession();

    // Starts `program` with `arguments` (argument 0 is added) on a new pseudo-terminal of 80
    // columns, as its controlling terminal and its standard input, output and error. The
    // environment is the caller's with `set` ("NAME=value") added and `unset` names removed.
    bool start(const std::string& program, const std::vector<std::string>& arguments,
               const std::vector<std::string>& set = {},
               const std::vector<std::string>& unset = {});

    // Everything the program has written so far (as the terminal passed it on: a "\n" arrives
    // as "\r\n").
    const std::string& screen() const { return screen_; }

    // Reads the screen until `text` appears `count` times (from offset `from`), or the time
    // limit passes. Returns whether it appeared.
    bool wait_for(const std::string& text, int time_limit_ms, size_t count = 1, size_t from = 0);

    // Reads whatever arrives within `milliseconds`.
    void read_for(int milliseconds);

    // Types `bytes` at the terminal in one write.
    bool send(const std::string& bytes);

    // Sends a signal to the program.
    bool signal(int signal_number);

    // Waits for the program's end, reading the screen meanwhile.
    PtyExit wait_exit(int time_limit_ms);

    // True while the program has not ended (and has not been reaped).
    bool running();

    // The terminal's current mode, as the program's side sees it.
    bool mode(termios* terminal_mode) const;

    // The terminal's mode as it was made, before the program started: the mode a program
    // that changes it must give back.
    bool initial_mode(termios* terminal_mode) const;

    pid_t pid() const { return pid_; }

  private:
    // Reads what is there within `timeout_ms`; false once the terminal is closed on the far side.
    bool read_some(int timeout_ms);

    int master_ = -1;
    pid_t pid_ = -1;
    bool reaped_ = false;
    int wait_status_ = 0;
    std::string screen_;
    termios initial_mode_ = {};
    bool has_initial_mode_ = false;
};

}  // namespace testing_support

#endif
