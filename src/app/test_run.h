// One test run, on the main thread: the start-up in its fixed order, the wait for the stop,
// and the shutdown that joins every thread it started and closes the device.
#pragma once

#include "app/options.h"

// Returns the exit status of the run: 0, 2 or 3.
int run_test(const Options* options);
