// The one door between the tool and its platform: the real Win32 headers on Windows,
// our own stand-in for the same services everywhere else.
#pragma once

#ifdef _WIN32
#include <conio.h>
#include <errno.h>
#include <process.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>
// windows.h must come first.
#include <setupapi.h>

// A plain aligned 32-bit load or store of a field that other threads update with interlocked
// operations; on x86 Windows this is what the hardware makes atomic.
inline LONG plain_load(volatile LONG* field) {
    return *field;
}
inline void plain_store(volatile LONG* field, LONG value) {
    *field = value;
}
#else
#include "portable/win32.h"
#endif
