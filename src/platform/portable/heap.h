// The process heap. The tool allocates only through these, so that a test can make any one
// allocation fail.
#pragma once

#include "portable/types.h"

HANDLE GetProcessHeap(void);
// Returns null on failure, with the last error set to ERROR_NOT_ENOUGH_MEMORY.
LPVOID HeapAlloc(HANDLE heap, DWORD flags, size_t bytes);
BOOL HeapFree(HANDLE heap, DWORD flags, LPVOID memory);
