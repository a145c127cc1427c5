// Formatted input over an option's text, as the C runtime's sscanf reads it for the few
// directives the options use: a blank (any run of white space, also none), a literal
// character, "%lX" (hexadecimal, with an optional sign and "0x" prefix), "%lu" (decimal, with
// an optional sign) and "%c". Numbers keep their low 32 bits however many digits they have, so
// that every runtime yields the same values.
#pragma once

#include "platform/platform.h"

// Returns the number of conversions made, or -1 when the text ended before the first one, as
// sscanf does. At most two numbers are stored, into values[0] and values[1].
int scan_numbers(const char* text, const char* format, DWORD values[2]);
