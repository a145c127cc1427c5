// The system's text for an error code, for the transfer failure messages.
#pragma once

#include "platform/platform.h"

// The text, allocated by the system and ending in its line break, or null when the system has
// no text for the code. Release it with release_error_text.
char* system_error_text(DWORD error_code);

// Frees a text of system_error_text; null does nothing.
void release_error_text(char* text);
