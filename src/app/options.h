// What the command line yields for the test run.
#pragma once

#include "platform/platform.h"

struct Options {
    DWORD device_index;       // "-device", default 0
    DWORD no_read;            // "-no_read" or "-no-read": 0 or 1
    DWORD no_write;           // "-no_write" or "-no-write": 0 or 1
    DWORD ignore_ep0_errors;  // "-ignore_EP0_errors": 0 or 1
};
