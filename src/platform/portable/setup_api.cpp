// The device set-up service over the emulated device: a set of the present interfaces of one
// class, its members by index, and the device path of each.
#include "portable/setup_api.h"

#include <stddef.h>
#include <string.h>

#include "emulator/core.h"
#include "portable/errors.h"
#include "portable/events.h"
#include "portable/handles.h"
#include "portable/setup_api_control.h"

namespace standin {

namespace {

// {AE18AA60-7F6A-11D4-97DD-00010229B959}
const GUID driver_class = {
    0xAE18AA60u, 0x7F6Au, 0x11D4u, {0x97u, 0xDDu, 0x00u, 0x01u, 0x02u, 0x29u, 0xB9u, 0x59u}};

bool same_guid(const GUID& a, const GUID& b) {
    return a.Data1 == b.Data1 && a.Data2 == b.Data2 && a.Data3 == b.Data3 &&
           memcmp(a.Data4, b.Data4, sizeof a.Data4) == 0;
}

struct DeviceSet : Object {
    DeviceSet(const GUID& guid, unsigned members)
        : Object(Kind::device_set), interface_class(guid), count(members) {}
    const GUID interface_class;
    const unsigned count;  // present when the set was built
};

std::atomic<DWORD> detail_size_override{0};

}  // namespace

void report_detail_size(DWORD bytes) {
    detail_size_override.store(bytes);
}

}  // namespace standin

using namespace standin;

HDEVINFO SetupDiGetClassDevsA(const GUID* class_guid, LPCSTR, HWND, DWORD flags) {
    if (class_guid == nullptr || (flags & DIGCF_DEVICEINTERFACE) == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    const unsigned members = same_guid(*class_guid, driver_class) ? emulator::present_devices() : 0;
    return register_object(new DeviceSet(*class_guid, members));
}

BOOL SetupDiEnumDeviceInterfaces(HDEVINFO set, PSP_DEVINFO_DATA, const GUID* interface_class,
                                 DWORD member_index, PSP_DEVICE_INTERFACE_DATA interface_data) {
    Object* object = acquire(set, Kind::device_set);
    if (object == nullptr) {
        return FALSE;
    }
    DeviceSet* devices = static_cast<DeviceSet*>(object);
    DWORD error = ERROR_SUCCESS;
    if (interface_class == nullptr || interface_data == nullptr ||
        interface_data->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA)) {
        error = ERROR_INVALID_PARAMETER;
    } else if (!same_guid(*interface_class, devices->interface_class) ||
               member_index >= devices->count) {
        error = ERROR_NO_MORE_ITEMS;
    } else {
        interface_data->InterfaceClassGuid = *interface_class;
        interface_data->Flags = 1;  // active
        interface_data->Reserved = static_cast<ULONG_PTR>(member_index) + 1;
    }
    release(object);
    if (error != ERROR_SUCCESS) {
        SetLastError(error);
        return FALSE;
    }
    return TRUE;
}

BOOL SetupDiGetDeviceInterfaceDetailA(HDEVINFO set, PSP_DEVICE_INTERFACE_DATA interface_data,
                                      PSP_DEVICE_INTERFACE_DETAIL_DATA_A detail, DWORD detail_size,
                                      LPDWORD required_size, PSP_DEVINFO_DATA) {
    Object* object = acquire(set, Kind::device_set);
    if (object == nullptr) {
        return FALSE;
    }
    const unsigned count = static_cast<DeviceSet*>(object)->count;
    release(object);
    if (interface_data == nullptr || interface_data->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA) ||
        interface_data->Reserved == 0 || interface_data->Reserved > count) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const std::string path =
        emulator::device_path(static_cast<unsigned>(interface_data->Reserved - 1));
    const size_t path_offset = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath);
    DWORD need = static_cast<DWORD>(path_offset + path.size() + 1);
    if (detail == nullptr) {
        const DWORD reported = detail_size_override.exchange(0);
        if (reported != 0) {
            need = reported;
        }
    }
    if (required_size != nullptr) {
        *required_size = need;
    }
    if (detail == nullptr) {
        SetLastError(detail_size == 0 ? ERROR_INSUFFICIENT_BUFFER : ERROR_INVALID_USER_BUFFER);
        return FALSE;
    }
    // The fixed part must fit before cbSize may be read.
    if (detail_size < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) ||
        detail->cbSize != sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) {
        SetLastError(ERROR_INVALID_USER_BUFFER);
        return FALSE;
    }
    if (detail_size < need) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    memcpy(detail->DevicePath, path.c_str(), path.size() + 1);
    return TRUE;
}

BOOL SetupDiDestroyDeviceInfoList(HDEVINFO set) {
    Object* object = acquire(set, Kind::device_set);
    if (object == nullptr) {
        return FALSE;
    }
    release(object);
    return CloseHandle(set);
}
