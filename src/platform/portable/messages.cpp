// The system's texts for the error codes the tool can meet, in our own words, each ending in
// "\r\n"; and the local heap that FormatMessageA allocates them from.
#include <stdlib.h>
#include <string.h>

#include "portable/errors.h"

namespace {

struct Message {
    DWORD code;
    const char* text;
};

const Message messages[] = {
    {2, "The file or device named was not found.\r\n"},
    {5, "Access was refused.\r\n"},
    {6, "The handle is not valid.\r\n"},
    {8, "There is not enough memory for this operation.\r\n"},
    {21, "The device is not ready.\r\n"},
    {31, "A device attached to the system does not work.\r\n"},
    {32, "The file or device is in use by another process.\r\n"},
    {87, "A parameter is not valid.\r\n"},
    {121, "The wait timed out.\r\n"},
    {122, "The buffer given is too small.\r\n"},
    {259, "There are no more items.\r\n"},
    {995, "The I/O operation was cancelled by a thread exit or at the program's request.\r\n"},
    {996, "The overlapped I/O operation is not complete yet.\r\n"},
    {997, "The overlapped I/O operation is in progress.\r\n"},
    {1117, "The request failed because of an I/O device error.\r\n"},
    {1167, "The device is not connected.\r\n"},
    {1168, "The element was not found.\r\n"},
    {1784, "The user buffer given is not valid for this operation.\r\n"},
};

}  // namespace

DWORD FormatMessageA(DWORD flags, LPCVOID, DWORD message_id, DWORD, LPSTR buffer, DWORD, void*) {
    const DWORD needed = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM;
    if ((flags & needed) != needed || buffer == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    for (const Message& message : messages) {
        if (message.code != message_id) {
            continue;
        }
        const size_t length = strlen(message.text);
        char* text = static_cast<char*>(LocalAlloc(LMEM_FIXED, length + 1));
        if (text == nullptr) {
            return 0;
        }
        memcpy(text, message.text, length + 1);
        *reinterpret_cast<LPSTR*>(buffer) = text;
        return static_cast<DWORD>(length);
    }
    SetLastError(ERROR_MR_MID_NOT_FOUND);
    return 0;
}

HLOCAL LocalAlloc(UINT flags, size_t bytes) {
    void* memory = (flags & LMEM_ZEROINIT) != 0 ? calloc(1, bytes == 0 ? 1 : bytes)
                                                : malloc(bytes == 0 ? 1 : bytes);
    if (memory == nullptr) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    }
    return memory;
}

HLOCAL LocalFree(HLOCAL memory) {
    free(memory);
    return nullptr;
}
