// The driver's request block that leads every transfer, its two control codes, and the fill
// of the four kinds of block the tool sends.
#pragma once

#include "platform/platform.h"

// 38 bytes, packed, every multi-byte field little-endian; the first eight bytes are the USB
// SETUP packet. No pointer-sized field, so the layout is the same in 32-bit and 64-bit builds.
#pragma pack(push, 1)
struct TransferBlock {
    BYTE bmRequestType;
    BYTE bRequest;
    WORD wValue;
    WORD wIndex;
    WORD wLength;
    DWORD timeout;
    BYTE reserved;
    BYTE endpoint_address;
    BYTE driver_reserved[12];
    DWORD reserved_dword;
    DWORD data_offset;
    DWORD data_length;
};
#pragma pack(pop)

static_assert(sizeof(TransferBlock) == 38, "the driver's request block is 38 bytes");

enum {
    TRANSFER_BLOCK_SIZE = 38,
    STATUS_REPLY_SIZE = 21,  // wLength of the status request
    STATUS_REQUEST_SIZE = TRANSFER_BLOCK_SIZE + STATUS_REPLY_SIZE,
    ENDPOINT_CONTROL = 0x00,
    ENDPOINT_BULK_OUT = 0x01,
    ENDPOINT_BULK_IN = 0x81,
};

// The platform's rule for device I/O control codes, written out here so that the two codes are
// the same whatever the platform headers define.
constexpr DWORD device_control_code(DWORD device_type, DWORD function, DWORD method, DWORD access) {
    return (device_type << 16) | (access << 14) | (function << 2) | method;
}

// FILE_DEVICE_UNKNOWN, FILE_ANY_ACCESS; METHOD_BUFFERED for control, METHOD_NEITHER for data.
constexpr DWORD IOCTL_CONTROL_TRANSFER = device_control_code(0x22, 8, 0, 0);
constexpr DWORD IOCTL_DATA_TRANSFER = device_control_code(0x22, 0x12, 3, 0);

// Vendor request 1 on EP0 with wLength 21, time-out 30 and the data stage right behind the
// block; wValue is 1 when start is nonzero (the start request), else 0 (a status poll).
void fill_status_block(TransferBlock* block, int start);

// A bulk transfer on `endpoint_address` (ENDPOINT_BULK_IN or ENDPOINT_BULK_OUT): every byte 0
// but the endpoint address.
void fill_bulk_block(TransferBlock* block, BYTE endpoint_address);
