// The thread that asks the device for its error counts once a second and publishes them in
// the run state for the monitor.
#pragma once

#include "platform/platform.h"

// Thread entry for _beginthreadex; the argument is ignored. Polls until a stop is requested,
// or until a poll fails while ignore_ep0_errors is 0 (then exit status 3). Always ends with
// request_stop, and returns 0.
unsigned __stdcall status_poller(void* unused);
