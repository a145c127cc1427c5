// The vendor status request on the control endpoint: one control transfer that asks the device
// for its PHY and LNK error counts, and the decoding of its 21-byte reply.
#pragma once

#include "device/transfer_block.h"
#include "platform/platform.h"

// The device's answer to vendor request 1, every field little-endian on the wire.
struct StatusReply {
    unsigned long long phy_errors;  // reply bytes 0 to 7
    unsigned long long lnk_errors;  // reply bytes 8 to 15
    DWORD aux_word;                 // reply bytes 16 to 19
    BYTE aux_byte;                  // reply byte 20
};

// Decodes the STATUS_REPLY_SIZE reply bytes at `bytes`.
void decode_status_reply(const BYTE* bytes, StatusReply* reply);

// Sends vendor request 1 on EP0 of `device` (wValue 1 when `start` is nonzero, else 0) and
// waits for its end, or cancels it 1000 ms after a stop. Returns 0 when a full reply came
// back, and then writes each output whose pointer is not null; returns 1 on every failure,
// after printing its message (the two driver-failure messages are held back while
// ignore_ep0_errors is set and no stop was seen), and writes no output. Never touches
// exit_status. Blocks the calling thread for the length of the transfer.
int query_status(HANDLE device, int start, unsigned long long* phy_out, unsigned long long* lnk_out,
                 DWORD* aux_word_out, DWORD* aux_byte_out);
