// The device set-up service: the present devices of an interface class and their paths.
#pragma once

#include "portable/types.h"

typedef HANDLE HDEVINFO;

#define DIGCF_DEFAULT 0x00000001u
#define DIGCF_PRESENT 0x00000002u
#define DIGCF_ALLCLASSES 0x00000004u
#define DIGCF_PROFILE 0x00000008u
#define DIGCF_DEVICEINTERFACE 0x00000010u

typedef struct _SP_DEVINFO_DATA {
    DWORD cbSize;
    GUID ClassGuid;
    DWORD DevInst;
    ULONG_PTR Reserved;
} SP_DEVINFO_DATA, *PSP_DEVINFO_DATA;

typedef struct _SP_DEVICE_INTERFACE_DATA {
    DWORD cbSize;
    GUID InterfaceClassGuid;
    DWORD Flags;
    ULONG_PTR Reserved;
} SP_DEVICE_INTERFACE_DATA, *PSP_DEVICE_INTERFACE_DATA;

typedef struct _SP_DEVICE_INTERFACE_DETAIL_DATA_A {
    DWORD cbSize;
    CHAR DevicePath[1];
} SP_DEVICE_INTERFACE_DETAIL_DATA_A, *PSP_DEVICE_INTERFACE_DETAIL_DATA_A;

HDEVINFO SetupDiGetClassDevsA(const GUID* class_guid, LPCSTR enumerator, HWND parent, DWORD flags);
BOOL SetupDiEnumDeviceInterfaces(HDEVINFO set, PSP_DEVINFO_DATA device_info,
                                 const GUID* interface_class, DWORD member_index,
                                 PSP_DEVICE_INTERFACE_DATA interface_data);
BOOL SetupDiGetDeviceInterfaceDetailA(HDEVINFO set, PSP_DEVICE_INTERFACE_DATA interface_data,
                                      PSP_DEVICE_INTERFACE_DETAIL_DATA_A detail, DWORD detail_size,
                                      LPDWORD required_size, PSP_DEVINFO_DATA device_info);
BOOL SetupDiDestroyDeviceInfoList(HDEVINFO set);
