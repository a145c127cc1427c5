// Files and device I/O over the emulated device: opening a device by its path and issuing
// device I/O control requests on it. Only the emulated devices' paths can be opened.
#include "portable/device_io.h"

#include "emulator/core.h"
#include "portable/errors.h"

HANDLE CreateFileA(LPCSTR path, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD,
                   DWORD flags_and_attributes, HANDLE) {
    if (path == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    return emulator::open_device(path, flags_and_attributes);
}

BOOL DeviceIoControl(HANDLE device, DWORD control_code, LPVOID in_buffer, DWORD in_size,
                     LPVOID out_buffer, DWORD out_size, LPDWORD bytes_returned,
                     LPOVERLAPPED overlapped) {
    return emulator::io_control(device, control_code, in_buffer, in_size, out_buffer, out_size,
                                bytes_returned, overlapped);
}
