// The last error of each thread.
#include "portable/errors.h"

static thread_local DWORD last_error = 0;

DWORD GetLastError(void) {
    return last_error;
}

void SetLastError(DWORD code) {
    last_error = code;
}
