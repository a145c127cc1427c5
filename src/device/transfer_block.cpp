// The four kinds of request block, written byte by byte in little-endian order so that a block
// is the same on every build whatever the host's byte order.
#include "device/transfer_block.h"

static void put_word(BYTE* at, unsigned value) {
    at[0] = (BYTE)(value & 0xFFu);
    at[1] = (BYTE)((value >> 8) & 0xFFu);
}

static void put_dword(BYTE* at, DWORD value) {
    put_word(at, (unsigned)(value & 0xFFFFu));
    put_word(at + 2, (unsigned)(value >> 16));
}

static void clear_block(BYTE* bytes) {
    for (int i = 0; i < TRANSFER_BLOCK_SIZE; ++i) {
        bytes[i] = 0;
    }
}

void fill_status_block(TransferBlock* block, int start) {
    BYTE* bytes = (BYTE*)block;
    clear_block(bytes);
    bytes[0] = 0xC0;  // device to host, vendor request, recipient device
    bytes[1] = 1;     // the status request
    put_word(bytes + 2, start != 0 ? 1u : 0u);
    put_word(bytes + 4, 0);
    put_word(bytes + 6, STATUS_REPLY_SIZE);
    put_dword(bytes + 8, 30);  // the driver's time-out for the request
    bytes[13] = ENDPOINT_CONTROL;
    put_dword(bytes + 30, TRANSFER_BLOCK_SIZE);  // the data stage follows the block
    put_dword(bytes + 34, STATUS_REPLY_SIZE);
}

void fill_bulk_block(TransferBlock* block, BYTE endpoint_address) {
    BYTE* bytes = (BYTE*)block;
    clear_block(bytes);
    bytes[13] = endpoint_address;
}
