// The system's wording for an error code, allocated by the system.
#include "device/error_text.h"

char* system_error_text(DWORD error_code) {
    char* text = NULL;
    FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM,
        NULL, error_code, 0, (LPSTR)&text, 0, NULL);
    return text;
}

void release_error_text(char* text) {
    if (text != NULL) {
        LocalFree(text);
    }
}
