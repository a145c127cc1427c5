// The result of an overlapped request and its cancellation: CancelIoEx names one request (or
// every request of the handle), CancelIo cancels the calling thread's requests on the handle.
#include "emulator/core.h"
#include "portable/device_io.h"

BOOL GetOverlappedResult(HANDLE, LPOVERLAPPED overlapped, LPDWORD bytes_transferred, BOOL wait) {
    return emulator::overlapped_result(overlapped, bytes_transferred, wait);
}

BOOL CancelIoEx(HANDLE device, LPOVERLAPPED overlapped) {
    return emulator::cancel_requests(device, overlapped, false);
}

BOOL CancelIo(HANDLE device) {
    return emulator::cancel_requests(device, nullptr, true);
}
