// Thread start through the C runtime, as on Windows: the result is a thread handle that is
// signalled when the thread ends and is closed with CloseHandle, or 0 with errno set.
#pragma once

#include "portable/types.h"

uintptr_t _beginthreadex(void* security, unsigned stack_size,
                         unsigned(__stdcall* start_address)(void*), void* argument,
                         unsigned init_flags, unsigned* thread_id);

// The thread's exit code, once it has ended; STILL_ACTIVE before.
#define STILL_ACTIVE 259u
BOOL GetExitCodeThread(HANDLE thread, LPDWORD exit_code);
void Sleep(DWORD milliseconds);
