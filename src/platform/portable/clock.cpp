// GetTickCount: milliseconds of a monotonic clock, cut to 32 bits so it wraps as on Windows,
// moved by set_tick_start; or, for tests, a manual clock that steps at each reading.
#include "portable/clock.h"

#include <time.h>

#include <atomic>

#include "portable/standin_control.h"

namespace {

// What set_tick_start adds to the monotonic milliseconds, modulo 2^32.
std::atomic<DWORD> tick_offset{0};
std::atomic<bool> manual{false};
std::atomic<DWORD> manual_tick{0};
std::atomic<DWORD> manual_step{0};

DWORD monotonic_ms() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    const unsigned long long ms = static_cast<unsigned long long>(now.tv_sec) * 1000ull +
                                  static_cast<unsigned long long>(now.tv_nsec) / 1000000ull;
    return static_cast<DWORD>(ms);
}

}  // namespace

DWORD GetTickCount(void) {
    if (manual.load()) {
        return manual_tick.fetch_add(manual_step.load());
    }
    return monotonic_ms() + tick_offset.load();
}

namespace standin {

void set_tick_start(DWORD tick) {
    tick_offset.store(tick - monotonic_ms());
    manual.store(false);
}

void use_system_tick(void) {
    tick_offset.store(0);
    manual.store(false);
}

void use_manual_tick(DWORD tick, DWORD step) {
    manual_step.store(step);
    manual_tick.store(tick);
    manual.store(true);
}

DWORD peek_manual_tick(void) {
    return manual_tick.load();
}

}  // namespace standin
