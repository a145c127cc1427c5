// Finding the N-th present device of an interface class through the set-up service and
// opening its device path.
#include "device/device_open.h"

#include <stddef.h>

const GUID device_interface_class = {
    0xAE18AA60u, 0x7F6Au, 0x11D4u, {0x97u, 0xDDu, 0x00u, 0x01u, 0x02u, 0x29u, 0xB9u, 0x59u}};

HANDLE open_device_interface(const GUID* interface_class, DWORD member_index, DWORD desired_access,
                             DWORD share_mode, LPSECURITY_ATTRIBUTES security,
                             DWORD creation_disposition, DWORD flags_and_attributes,
                             HANDLE template_file) {
    HANDLE device = INVALID_HANDLE_VALUE;
    DWORD error = 0;
    PSP_DEVICE_INTERFACE_DETAIL_DATA_A detail = NULL;
    SP_DEVICE_INTERFACE_DATA interface_data;
    DWORD required_size = 0;

    HDEVINFO set =
        SetupDiGetClassDevsA(interface_class, NULL, NULL, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE) {
        return INVALID_HANDLE_VALUE;
    }

    interface_data.cbSize = sizeof(SP_DEVICE_INTERFACE_DATA);
    if (!SetupDiEnumDeviceInterfaces(set, NULL, interface_class, member_index, &interface_data)) {
        error = GetLastError();
        goto clean_up;
    }

    // The size query always fails; only the size it reports counts.
    SetupDiGetDeviceInterfaceDetailA(set, &interface_data, NULL, 0, &required_size, NULL);
    // A reported size below the record's fixed part (the interface vanished in between) leaves
    // no room for the cbSize written below: fail with the size query's own error instead of
    // writing beyond the buffer.
    if (required_size < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) {
        error = GetLastError();
        goto clean_up;
    }

    detail = (PSP_DEVICE_INTERFACE_DETAIL_DATA_A)HeapAlloc(GetProcessHeap(), 0, required_size);
    if (detail == NULL) {
        error = GetLastError();
        goto clean_up;
    }
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
    if (!SetupDiGetDeviceInterfaceDetailA(set, &interface_data, detail, required_size,
                                          &required_size, NULL)) {
        error = GetLastError();
        goto clean_up;
    }

    device = CreateFileA(detail->DevicePath, desired_access, share_mode, security,
                         creation_disposition, flags_and_attributes, template_file);
    if (device == INVALID_HANDLE_VALUE) {
        error = GetLastError();
        fprintf(stderr, "FAILED to open %s, error=%lu\n", detail->DevicePath, (unsigned long)error);
    }

clean_up:
    if (detail != NULL) {
        HeapFree(GetProcessHeap(), 0, detail);
    }
    SetupDiDestroyDeviceInfoList(set);
    if (device == INVALID_HANDLE_VALUE) {
        SetLastError(error);
    }
    return device;
}
