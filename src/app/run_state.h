// The one record that the threads of a test run share, with the stop signal. No lock guards
// it: every field has one way of being written and one way of being read, given beside it.
#pragma once

#include "platform/platform.h"

// Process exit statuses.
enum {
    EXIT_STATUS_OK = 0,        // the run ended and no failure was stored
    EXIT_STATUS_TRANSFER = 2,  // a transfer failed: the start request or a bulk transfer
    EXIT_STATUS_SETUP = 3,     // a set-up or resource failure, a failed status poll, a bad argument
};

struct RunState {
    // 0 until the first request_stop, then 1 for good. Written by request_stop with an
    // interlocked exchange; read by is_stopping with a plain load.
    volatile LONG stop_flag;
    // Manual-reset, never reset once signalled, never closed. Created by the test run before
    // the device is opened; signalled by request_stop; waited on by every waiting thread.
    HANDLE stop_event;
    // 0, 2 or 3. Plain stores from any thread; read once by the test run after every join.
    volatile LONG exit_status;
    // Set once by the test run before any device thread starts; closed after every join.
    HANDLE device_handle;
    // Set once by the test run after the start request, before the status poller starts.
    volatile LONG ignore_ep0_errors;
    // Set by the command line; read once by the bulk writer.
    DWORD pattern_word0;
    DWORD pattern_word1;
    // Unsigned 32-bit counters that wrap. One writer each, with interlocked operations; the
    // monitor reads them with an interlocked add of 0.
    volatile LONG bytes_read;     // bulk reader: add per completed transfer
    volatile LONG bytes_written;  // bulk writer: add per completed transfer
    volatile LONG phy_errors;     // status poller: exchange with the low 32 bits of the count
    volatile LONG lnk_errors;     // status poller: as phy_errors
    volatile LONG status_polls;   // status poller: increment per successful poll
};

extern RunState run_state;

// Sets the stop flag, then signals the stop event (when it exists). Any thread, any number of
// times; only the first call changes anything.
void request_stop(void);

// True once a stop has been requested. One plain load: no lock, no wait.
bool is_stopping(void);

// Puts the record back to its initial values, for tests that run several test runs in one
// process. The caller owns any stop event and device handle it held.
void reset_run_state(void);

// The atomic read of a counter: an interlocked add of 0.
inline DWORD read_counter(volatile LONG* counter) {
    return static_cast<DWORD>(InterlockedExchangeAdd(counter, 0));
}
