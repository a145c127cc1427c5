// Bringing a pending overlapped transfer to its end, or cancelling it after a grace once the
// test run stops. Shared by the status request and the two bulk workers, each on its own thread
// with its own OVERLAPPED record and event.
#pragma once

#include "platform/platform.h"

// Waits until the transfer of `overlapped` (issued on `device`, pending) is over. The first wait
// is on the transfer event and the run's stop event; when a stop was requested by then, the
// transfer gets 1000 ms more, and if it has not succeeded by then `cancel_message` is printed to
// standard output and the transfer is cancelled. Returns 0 when the transfer succeeded
// (*bytes_transferred holds its count) or 1 when it failed (*error_code holds the code that the
// final result query left as the last error). *stop_seen tells, on both paths, whether a stop
// had been requested when the first wait ended. Returns only when the driver no longer uses the
// request's block, buffers or OVERLAPPED record. Needs nothing but the OVERLAPPED record, so it
// serves any overlapped operation, not only DeviceIoControl.
int await_transfer(HANDLE device, OVERLAPPED* overlapped, DWORD* bytes_transferred,
                   const char* cancel_message, DWORD* error_code, bool* stop_seen);

// Asks the platform to cancel this one in-flight request: CancelIoEx, looked up anew in
// "Kernel32.dll" at each call, or CancelIo (the calling thread's requests on the handle) where
// it is missing. The outcome shows in the request's final result.
void cancel_transfer(HANDLE device, OVERLAPPED* overlapped);
