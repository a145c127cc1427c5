// Milliseconds since the system started, 32-bit, wrapping after 2^32 ms.
#pragma once

#include "portable/types.h"

DWORD GetTickCount(void);
