// A small process runner for POSIX hosts and for Windows (and so for Wine).
#include "support/process.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
extern char** environ;
#endif

namespace testing_support {

std::string program_path() {
    return CORVANTEL_PROGRAM;
}

#ifdef _WIN32

// Quotes one argument by the rules the C runtime uses to split a command line.
static std::string quote_argument(const std::string& argument) {
    if (!argument.empty() && argument.find_first_of(" \t\"") == std::string::npos) {
        return argument;
    }
    std::string quoted = "\"";
    size_t backslashes = 0;
    for (char c : argument) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        if (c == '"') {
            quoted.append(backslashes * 2 + 1, '\\');
        } else {
            quoted.append(backslashes, '\\');
        }
        backslashes = 0;
        quoted += c;
    }
    quoted.append(backslashes * 2, '\\');
    quoted += '"';
    return quoted;
}

struct Reader {
    HANDLE pipe;
    std::string* text;
};

static DWORD WINAPI read_all(LPVOID parameter) {
    Reader* reader = static_cast<Reader*>(parameter);
    char buffer[4096];
    DWORD count = 0;
    while (ReadFile(reader->pipe, buffer, sizeof buffer, &count, nullptr) && count > 0) {
        reader->text->append(buffer, count);
    }
    return 0;
}

ProcessResult run_process(const std::string& program, const std::vector<std::string>& arguments,
                          const std::vector<std::string>& environment, int time_limit_ms,
                          bool error_into_output) {
    ProcessResult result;
    std::string command_line = quote_argument(program);
    for (const std::string& argument : arguments) {
        command_line += " " + quote_argument(argument);
    }
    std::string block;
    for (char* const* entry = _environ; *entry != nullptr; ++entry) {
        block += *entry;
        block += '\0';
    }
    for (const std::string& entry : environment) {
        block += entry;
        block += '\0';
    }
    block += '\0';

    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE out_read, out_write, err_read, err_write;
    CreatePipe(&out_read, &out_write, &inherit, 0);
    CreatePipe(&err_read, &err_write, &inherit, 0);
    SetHandleInformation(out_read, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(err_read, HANDLE_FLAG_INHERIT, 0);
    HANDLE no_input = CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                  OPEN_EXISTING, 0, nullptr);

    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = no_input;
    startup.hStdOutput = out_write;
    startup.hStdError = error_into_output ? out_write : err_write;
    PROCESS_INFORMATION process = {};
    std::vector<char> writable(command_line.begin(), command_line.end());
    writable.push_back('\0');
    const BOOL started = CreateProcessA(nullptr, writable.data(), nullptr, nullptr, TRUE, 0,
                                        block.data(), nullptr, &startup, &process);
    CloseHandle(out_write);
    CloseHandle(err_write);
    CloseHandle(no_input);
    if (!started) {
        CloseHandle(out_read);
        CloseHandle(err_read);
        return result;
    }
    Reader out_reader = {out_read, &result.out};
    Reader err_reader = {err_read, &result.err};
    HANDLE readers[2] = {CreateThread(nullptr, 0, read_all, &out_reader, 0, nullptr),
                         CreateThread(nullptr, 0, read_all, &err_reader, 0, nullptr)};
    if (WaitForSingleObject(process.hProcess, static_cast<DWORD>(time_limit_ms)) == WAIT_OBJECT_0) {
        DWORD code = 0;
        GetExitCodeProcess(process.hProcess, &code);
        result.exit_status = static_cast<int>(code);
    } else {
        TerminateProcess(process.hProcess, 1);
    }
    WaitForMultipleObjects(2, readers, TRUE, INFINITE);
    CloseHandle(readers[0]);
    CloseHandle(readers[1]);
    CloseHandle(out_read);
    CloseHandle(err_read);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    return result;
}

#else

ProcessResult run_process(const std::string& program, const std::vector<std::string>& arguments,
                          const std::vector<std::string>& environment, int time_limit_ms,
                          bool error_into_output) {
    ProcessResult result;
    std::vector<std::string> environment_strings;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        environment_strings.emplace_back(*entry);
    }
    for (const std::string& entry : environment) {
        environment_strings.push_back(entry);
    }
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (std::string& entry : environment_strings) {
        envp.push_back(&entry[0]);
    }
    envp.push_back(nullptr);

    int out_pipe[2], err_pipe[2];
    if (pipe(out_pipe) != 0 || pipe(err_pipe) != 0) {
        return result;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out_pipe[1], 1);
    posix_spawn_file_actions_adddup2(&actions, error_into_output ? out_pipe[1] : err_pipe[1], 2);
    posix_spawn_file_actions_addclose(&actions, out_pipe[0]);
    posix_spawn_file_actions_addclose(&actions, err_pipe[0]);
    pid_t pid = 0;
    const int spawned =
        posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(out_pipe[1]);
    close(err_pipe[1]);
    if (spawned != 0) {
        close(out_pipe[0]);
        close(err_pipe[0]);
        return result;
    }

    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(time_limit_ms);
    struct pollfd fds[2] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
    std::string* texts[2] = {&result.out, &result.err};
    int open_pipes = 2;
    bool killed = false;
    while (open_pipes > 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0) {
            kill(pid, SIGKILL);
            killed = true;
            break;
        }
        if (poll(fds, 2, static_cast<int>(left)) <= 0) {
            continue;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd >= 0 && (fds[i].revents & (POLLIN | POLLHUP)) != 0) {
                char buffer[4096];
                const ssize_t count = read(fds[i].fd, buffer, sizeof buffer);
                if (count > 0) {
                    texts[i]->append(buffer, static_cast<size_t>(count));
                } else {
                    close(fds[i].fd);
                    fds[i].fd = -1;
                    --open_pipes;
                }
            }
        }
    }
    for (struct pollfd& fd : fds) {
        if (fd.fd >= 0) {
            close(fd.fd);
        }
    }
    int status = 0;
    waitpid(pid, &status, 0);
    if (!killed && WIFEXITED(status)) {
        result.exit_status = WEXITSTATUS(status);
    }
    return result;
}

#endif

}  // namespace testing_support
