// The wait for a pending transfer, with the grace and the cancel that follow a stop.
#include "device/transfer.h"

#include "app/run_state.h"

typedef BOOL(WINAPI* CancelIoExFunction)(HANDLE, LPOVERLAPPED);

enum { STOP_GRACE_MS = 1000 };

int await_transfer(HANDLE device, OVERLAPPED* overlapped, DWORD* bytes_transferred,
                   const char* cancel_message, DWORD* error_code, bool* stop_seen) {
    HANDLE objects[2] = {overlapped->hEvent, run_state.stop_event};
    WaitForMultipleObjects(2, objects, FALSE, INFINITE);

    const bool stopping = is_stopping();
    if (stopping) {
        WaitForSingleObject(overlapped->hEvent, STOP_GRACE_MS);
        if (!GetOverlappedResult(device, overlapped, bytes_transferred, FALSE)) {
            printf("%s", cancel_message);
            cancel_transfer(device, overlapped);
        }
    }

    int result = 0;
    if (!GetOverlappedResult(device, overlapped, bytes_transferred, TRUE)) {
        *error_code = GetLastError();
        result = 1;
    }
    *stop_seen = stopping;
    return result;
}

void cancel_transfer(HANDLE device, OVERLAPPED* overlapped) {
    CancelIoExFunction cancel_one = NULL;
    HMODULE kernel = GetModuleHandleA("Kernel32.dll");
    if (kernel != NULL) {
        // The platform hands out every function under one generic type.
        cancel_one = (CancelIoExFunction)(void (*)(void))GetProcAddress(kernel, "CancelIoEx");
    }
    if (cancel_one != NULL) {
        cancel_one(device, overlapped);
    } else {
        CancelIo(device);
    }
}
