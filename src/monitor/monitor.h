// The console monitor: the thread that keeps the status line and ends the test run on ESC.
#pragma once

#include "platform/platform.h"

// Thread entry. Prints the greeting, then makes a pass about every 100 ms: a key check (ESC
// ends the run), a tick reading and, 500 ms or more after the last one, a status line. Ends
// with a newline and request_stop, whatever ended it, and returns 0. Never writes exit_status.
unsigned __stdcall monitor(void* ignored);
