// The stand-in for the part of Win32 and its C runtime that the tool uses, on hosts other than
// Windows. Each service has its own header; this one gathers them.
#pragma once

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "portable/types.h"
// types.h first: every other header uses its types.
#include "portable/clock.h"
#include "portable/console.h"
#include "portable/device_io.h"
#include "portable/errors.h"
#include "portable/events.h"
#include "portable/heap.h"
#include "portable/interlocked.h"
#include "portable/setup_api.h"
#include "portable/strings.h"
#include "portable/threads.h"
