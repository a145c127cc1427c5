// Kernel events and the waits on events and threads. One handle space: events, threads and
// device handles are all closed with CloseHandle.
#pragma once

#include "portable/types.h"

// An unnamed event; the name must be null. Returns null on failure, with the last error set.
HANDLE CreateEventA(LPSECURITY_ATTRIBUTES attributes, BOOL manual_reset, BOOL initial_state,
                    LPCSTR name);
BOOL SetEvent(HANDLE event);
BOOL ResetEvent(HANDLE event);

// Waits until the object is signalled (an event that is set, a thread that has ended) or the
// time-out in milliseconds has passed (INFINITE: never). Returns WAIT_OBJECT_0, WAIT_TIMEOUT,
// or WAIT_FAILED with the last error set for an invalid handle.
DWORD WaitForSingleObject(HANDLE object, DWORD milliseconds);

// bWaitAll must be FALSE: returns WAIT_OBJECT_0 + i for the lowest i whose object is signalled.
DWORD WaitForMultipleObjects(DWORD count, const HANDLE* objects, BOOL wait_all, DWORD milliseconds);

// Closes any handle of the stand-in. Closing a device handle completes its requests still in
// flight as cancelled.
BOOL CloseHandle(HANDLE object);
