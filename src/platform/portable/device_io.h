// Files and device I/O: opening a device by its path, overlapped device I/O control requests,
// their results and their cancellation. Device handles lead to the emulated device.
#pragma once

#include "portable/types.h"

HANDLE CreateFileA(LPCSTR path, DWORD desired_access, DWORD share_mode,
                   LPSECURITY_ATTRIBUTES security, DWORD creation_disposition,
                   DWORD flags_and_attributes, HANDLE template_file);

BOOL DeviceIoControl(HANDLE device, DWORD control_code, LPVOID in_buffer, DWORD in_size,
                     LPVOID out_buffer, DWORD out_size, LPDWORD bytes_returned,
                     LPOVERLAPPED overlapped);

BOOL GetOverlappedResult(HANDLE device, LPOVERLAPPED overlapped, LPDWORD bytes_transferred,
                         BOOL wait);

BOOL CancelIoEx(HANDLE device, LPOVERLAPPED overlapped);
BOOL CancelIo(HANDLE device);

HMODULE GetModuleHandleA(LPCSTR module_name);
FARPROC GetProcAddress(HMODULE module, LPCSTR procedure_name);
