// Finding the N-th present device of a device interface class and opening it as a file.
#pragma once

#include "platform/platform.h"

// The device interface class of the vendor driver, {AE18AA60-7F6A-11D4-97DD-00010229B959}.
extern const GUID device_interface_class;

// Opens the present interface number `member_index` (from 0, in the set-up service's order) of
// `interface_class`, handing the last six arguments to CreateFileA unchanged. Returns the handle,
// or INVALID_HANDLE_VALUE with the last error of the step that failed. When the device exists
// but cannot be opened, prints "FAILED to open <path>, error=<code>" to standard error. Nothing
// but the returned handle outlives the call. Main thread, before the device threads start.
HANDLE open_device_interface(const GUID* interface_class, DWORD member_index, DWORD desired_access,
                             DWORD share_mode, LPSECURITY_ATTRIBUTES security,
                             DWORD creation_disposition, DWORD flags_and_attributes,
                             HANDLE template_file);
