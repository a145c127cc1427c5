// What tests and the emulated device's scenario can set in the stand-in platform beyond the
// Win32 calls themselves: the clock's start and keys pushed into the keyboard.
#pragma once

#include "portable/types.h"

namespace standin {

// From now on GetTickCount counts on from `tick`, wrapping at 2^32 as ever.
void set_tick_start(DWORD tick);

// Queues one key code; _kbhit and _getch serve queued codes before the terminal's keys.
void push_key(int code);

}  // namespace standin
