// What tests and the emulated device's scenario can set in the stand-in platform beyond the
// Win32 calls themselves: the clock's start and keys pushed into the keyboard.
#pragma once

#include "portable/types.h"

namespace standin {

// From now on GetTickCount counts on from `tick`, wrapping at 2^32 as ever.
void set_tick_start(DWORD tick);

// Back to the plain monotonic milliseconds, as at program start.
void use_system_tick(void);

// Queues one key code; _kbhit and _getch serve queued codes before the terminal's keys.
void push_key(int code);

// A clock for tests: from now on GetTickCount returns `tick`, and after each reading adds
// `step` to it (modulo 2^32), so that a thread's passes see known readings whatever the real
// pace. set_tick_start returns to the monotonic clock.
void use_manual_tick(DWORD tick, DWORD step);

// The manual clock's next reading, without taking it (no step is made).
DWORD peek_manual_tick(void);

// Drops every queued key code.
void clear_keys(void);

}  // namespace standin
