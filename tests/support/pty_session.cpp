// The pseudo-terminal harness: openpty and fork, a reader of the master side with time limits, keys
// written to it, and the child's end collected with waitpid.
#include "support/pty_session.h"

#ifndef _WIN32

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utmp.h>

#include <chrono>

extern char** environ;

namespace testing_support {

namespace {

using Clock = std::chrono::steady_clock;

int remaining_ms(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

size_t count_of(const std::string& text, const std::string& part, size_t from) {
    size_t count = 0;
    for (size_t at = text.find(part, from); at != std::string::npos;
         at = text.find(part, at + part.size())) {
        ++count;
    }
    return count;
}

}  // namespace

PtySession::~PtySession() {
    if (pid_ > 0 && !reaped_) {
        kill(pid_, SIGKILL);
        waitpid(pid_, &wait_status_, 0);
    }
    if (master_ >= 0) {
        close(master_);
    }
}

bool PtySession::start(const std::string& program, const std::vector<std::string>& arguments,
                       const std::vector<std::string>& set, const std::vector<std::string>& unset) {
    std::vector<std::string> words;
    words.push_back(program);
    words.insert(words.end(), arguments.begin(), arguments.end());
    // Everything the child needs is made before the fork: after it, only execve and _exit.
    std::vector<char*> argv;
    for (std::string& word : words) {
        argv.push_back(&word[0]);
    }
    argv.push_back(nullptr);
    std::vector<std::string> environment;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text(*entry);
        const std::string name = text.substr(0, text.find('='));
        bool dropped = false;
        for (const std::string& removed : unset) {
            dropped = dropped || name == removed;
        }
        for (const std::string& added : set) {
            dropped = dropped || name == added.substr(0, added.find('='));
        }
        if (!dropped) {
            environment.push_back(text);
        }
    }
    environment.insert(environment.end(), set.begin(), set.end());
    std::vector<char*> envp;
    for (std::string& entry : environment) {
        envp.push_back(&entry[0]);
    }
    envp.push_back(nullptr);
    winsize size = {};
    size.ws_row = 24;
    size.ws_col = 80;
    int slave = -1;
    if (openpty(&master_, &slave, nullptr, nullptr, &size) != 0) {
        master_ = -1;
        return false;
    }
    // The mode as the program will find it, read before the program can change it.
    has_initial_mode_ = tcgetattr(master_, &initial_mode_) == 0;
    const pid_t pid = fork();
    if (pid < 0) {
        close(slave);
        close(master_);
        master_ = -1;
        return false;
    }
    if (pid == 0) {
        close(master_);
        if (login_tty(slave) != 0) {
            _exit(127);
        }
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    close(slave);
    pid_ = pid;
    fcntl(master_, F_SETFD, FD_CLOEXEC);
    return true;
}

bool PtySession::read_some(int timeout_ms) {
    if (master_ < 0) {
        return false;
    }
    pollfd input = {master_, POLLIN, 0};
    const int ready = poll(&input, 1, timeout_ms);
    if (ready <= 0) {
        return ready == 0 || errno == EINTR;
    }
    char buffer[4096];
    const ssize_t got = read(master_, buffer, sizeof buffer);
    if (got > 0) {
        screen_.append(buffer, static_cast<size_t>(got));
        return true;
    }
    // EIO: the program's side of the terminal is closed (it has ended).
    return got < 0 && errno == EINTR;
}

bool PtySession::wait_for(const std::string& text, int time_limit_ms, size_t count, size_t from) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(time_limit_ms);
    while (count_of(screen_, text, from) < count) {
        const int left = remaining_ms(deadline);
        if (left == 0 || !read_some(left < 50 ? left : 50)) {
            return count_of(screen_, text, from) >= count;
        }
    }
    return true;
}

void PtySession::read_for(int milliseconds) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
    for (int left = remaining_ms(deadline); left > 0; left = remaining_ms(deadline)) {
        if (!read_some(left)) {
            break;
        }
    }
}

bool PtySession::send(const std::string& bytes) {
    return master_ >= 0 &&
           write(master_, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
}

bool PtySession::signal(int signal_number) {
    return pid_ > 0 && !reaped_ && kill(pid_, signal_number) == 0;
}

bool PtySession::running() {
    if (pid_ <= 0 || reaped_) {
        return false;
    }
    if (waitpid(pid_, &wait_status_, WNOHANG) == pid_) {
        reaped_ = true;
    }
    return !reaped_;
}

PtyExit PtySession::wait_exit(int time_limit_ms) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(time_limit_ms);
    while (running() && remaining_ms(deadline) > 0) {
        // Keep reading, or a program with much to say would block on a full terminal.
        if (!read_some(20)) {
            usleep(5000);
        }
    }
    read_for(50);
    PtyExit result;
    if (!reaped_) {
        return result;
    }
    result.ended = true;
    if (WIFEXITED(wait_status_)) {
        result.exited = true;
        result.exit_status = WEXITSTATUS(wait_status_);
    } else if (WIFSIGNALED(wait_status_)) {
        result.signal_number = WTERMSIG(wait_status_);
    }
    return result;
}

bool PtySession::initial_mode(termios* terminal_mode) const {
    if (!has_initial_mode_) {
        return false;
    }
    *terminal_mode = initial_mode_;
    return true;
}

bool PtySession::mode(termios* terminal_mode) const {
    // On Linux the master side reports the mode of the terminal the program sees.
    return master_ >= 0 && tcgetattr(master_, terminal_mode) == 0;
}

}  // namespace testing_support

#endif
