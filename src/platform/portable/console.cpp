// The stand-in's console keyboard: codes pushed by tests first, then the keys of the terminal
// under standard input, decoded as the Windows console keyboard reports them. Without a
// terminal no key is ever pending and standard input is never read.
#include "portable/console.h"

#include <poll.h>
#include <unistd.h>

#include <deque>
#include <mutex>

#include "portable/key_decoder.h"
#include "portable/standin_control.h"
#include "portable/terminal_mode.h"

namespace {

// How long the rest of an escape sequence may take to arrive before a lone ESC is taken as
// the ESC key.
const int sequence_wait_ms = 40;

std::mutex pushed_lock;
std::deque<int> pushed_codes;

// The terminal side, used by the thread that reads keys.
std::mutex terminal_lock;
std::deque<int> decoded_codes;  // codes of keys decoded but not yet read
unsigned char raw_bytes[64];    // bytes read but not yet decoded
size_t raw_count = 0;
bool terminal_gone = false;  // end of input or a read error: no more keys from it

bool pop_pushed(int* code) {
    std::lock_guard<std::mutex> hold(pushed_lock);
    if (pushed_codes.empty()) {
        return false;
    }
    *code = pushed_codes.front();
    pushed_codes.pop_front();
    return true;
}

bool any_pushed() {
    std::lock_guard<std::mutex> hold(pushed_lock);
    return !pushed_codes.empty();
}

// Waits up to `timeout_ms` (-1: without end) for input and appends what is there to
// raw_bytes. Returns whether any byte came.
bool read_terminal(int timeout_ms) {
    if (terminal_gone || raw_count == sizeof raw_bytes) {
        return false;
    }
    pollfd input = {STDIN_FILENO, POLLIN, 0};
    const int ready = poll(&input, 1, timeout_ms);
    if (ready <= 0) {
        return false;
    }
    if ((input.revents & POLLIN) == 0) {
        terminal_gone = (input.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
        return false;
    }
    const ssize_t got = read(STDIN_FILENO, raw_bytes + raw_count, sizeof raw_bytes - raw_count);
    if (got <= 0) {
        terminal_gone = true;
        return false;
    }
    raw_count += static_cast<size_t>(got);
    return true;
}

// Decodes every whole key in raw_bytes, waiting briefly for the rest of a sequence begun.
void decode_terminal_bytes() {
    while (raw_count > 0) {
        int codes[2];
        int code_count = 0;
        size_t used = standin::decode_key(raw_bytes, raw_count, false, codes, &code_count);
        if (used == 0) {
            if (read_terminal(sequence_wait_ms)) {
                continue;
            }
            used = standin::decode_key(raw_bytes, raw_count, true, codes, &code_count);
        }
        for (int i = 0; i < code_count; ++i) {
            decoded_codes.push_back(codes[i]);
        }
        for (size_t i = used; i < raw_count; ++i) {
            raw_bytes[i - used] = raw_bytes[i];
        }
        raw_count -= used;
    }
}

}  // namespace

int _kbhit(void) {
    if (any_pushed()) {
        return 1;
    }
    std::lock_guard<std::mutex> hold(terminal_lock);
    if (!decoded_codes.empty()) {
        return 1;
    }
    if (!standin::open_terminal_input()) {
        return 0;
    }
    while (decoded_codes.empty() && read_terminal(0)) {
        decode_terminal_bytes();
    }
    return decoded_codes.empty() ? 0 : 1;
}

int _getch(void) {
    int code = 0;
    if (pop_pushed(&code)) {
        return code;
    }
    std::lock_guard<std::mutex> hold(terminal_lock);
    while (decoded_codes.empty()) {
        if (!standin::open_terminal_input() || terminal_gone) {
            return -1;  // no console to read from
        }
        if (read_terminal(-1)) {
            decode_terminal_bytes();
        }
    }
    code = decoded_codes.front();
    decoded_codes.pop_front();
    return code;
}

namespace standin {

void push_key(int code) {
    std::lock_guard<std::mutex> hold(pushed_lock);
    pushed_codes.push_back(code);
}

void clear_keys(void) {
    std::lock_guard<std::mutex> hold(pushed_lock);
    pushed_codes.clear();
}

}  // namespace standin
