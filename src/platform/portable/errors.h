// The calling thread's last error, and the system's texts for error codes.
#pragma once

#include "portable/types.h"

#define FORMAT_MESSAGE_ALLOCATE_BUFFER 0x00000100u
#define FORMAT_MESSAGE_IGNORE_INSERTS 0x00000200u
#define FORMAT_MESSAGE_FROM_STRING 0x00000400u
#define FORMAT_MESSAGE_FROM_HMODULE 0x00000800u
#define FORMAT_MESSAGE_FROM_SYSTEM 0x00001000u

// Codes of the device services beyond those of types.h.
#define ERROR_MR_MID_NOT_FOUND 317u
#define ERROR_MOD_NOT_FOUND 126u
#define ERROR_PROC_NOT_FOUND 127u
#define ERROR_NOT_FOUND 1168u
#define ERROR_INVALID_USER_BUFFER 1784u

#define LMEM_FIXED 0x0000u
#define LMEM_ZEROINIT 0x0040u

DWORD GetLastError(void);
void SetLastError(DWORD code);

// With FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM, stores in *(LPSTR*)buffer a
// text allocated with LocalAlloc that ends in "\r\n", and returns its length; for a code it has
// no text for, stores nothing, returns 0 and sets the last error. Other uses are not supported.
DWORD FormatMessageA(DWORD flags, LPCVOID source, DWORD message_id, DWORD language_id, LPSTR buffer,
                     DWORD size, void* arguments);

HLOCAL LocalAlloc(UINT flags, size_t bytes);
// Returns null on success, as on Windows.
HLOCAL LocalFree(HLOCAL memory);
