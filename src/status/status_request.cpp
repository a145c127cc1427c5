// The status request: vendor request 1 on EP0, the reply-length rule and the decoding of the
// reply. Each call owns its event, OVERLAPPED record and request buffer and releases them
// before it returns, only once the driver is done with them.
#include "status/status_request.h"

#include "app/run_state.h"
#include "device/error_text.h"
#include "device/transfer.h"

static const char cancel_message[] = "\nCancelling Control pipe request\n";

static unsigned long long read_le(const BYTE* bytes, int count) {
    unsigned long long value = 0;
    for (int i = count - 1; i >= 0; --i) {
        value = (value << 8) | bytes[i];
    }
    return value;
}

void decode_status_reply(const BYTE* bytes, StatusReply* reply) {
    reply->phy_errors = read_le(bytes, 8);
    reply->lnk_errors = read_le(bytes + 8, 8);
    reply->aux_word = static_cast<DWORD>(read_le(bytes + 16, 4));
    reply->aux_byte = bytes[20];
}

static void print_driver_failure(const char* format, DWORD error) {
    char* text = system_error_text(error);
    printf(format, static_cast<unsigned long>(error), text != nullptr ? text : "");
    release_error_text(text);
}

// Issues the request in `buffer` and brings it to its end. Returns 0 with the byte count in
// *returned, or 1 after printing what ignore_ep0_errors and the stop let through.
static int run_control_transfer(HANDLE device, BYTE* buffer, OVERLAPPED* overlapped,
                                DWORD* returned) {
    if (DeviceIoControl(device, IOCTL_CONTROL_TRANSFER, buffer, STATUS_REQUEST_SIZE, buffer,
                        STATUS_REQUEST_SIZE, returned, overlapped)) {
        return 0;
    }
    DWORD error = GetLastError();
    if (error != ERROR_IO_PENDING) {
        if (plain_load(&run_state.ignore_ep0_errors) == 0) {
            print_driver_failure("\nControl pipe DeviceIoControl failed (error code=%lu)\n%s\n",
                                 error);
        }
        return 1;
    }
    bool stop_seen = false;
    if (await_transfer(device, overlapped, returned, cancel_message, &error, &stop_seen) != 0) {
        if (plain_load(&run_state.ignore_ep0_errors) == 0 || stop_seen) {
            print_driver_failure(
                "\nControl pipe DeviceIoControl failed (GetOverlappedResult error code=%lu)\n%s\n",
                error);
        }
        return 1;
    }
    return 0;
}

int query_status(HANDLE device, int start, unsigned long long* phy_out, unsigned long long* lnk_out,
                 DWORD* aux_word_out, DWORD* aux_byte_out) {
    OVERLAPPED overlapped;
    DWORD returned = 0;
    int result = 1;

    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (event == nullptr) {
        printf("\nERROR: Can't create event\n");
        return 1;
    }
    memset(&overlapped, 0, sizeof overlapped);
    overlapped.hEvent = event;

    BYTE* buffer = static_cast<BYTE*>(HeapAlloc(GetProcessHeap(), 0, STATUS_REQUEST_SIZE));
    if (buffer == nullptr) {
        printf("\nERROR: Insufficient memory\n");
        CloseHandle(event);
        return 1;
    }
    // The block leads the request buffer; the data stage behind it is left as it is.
    fill_status_block(reinterpret_cast<TransferBlock*>(buffer), start);

    if (run_control_transfer(device, buffer, &overlapped, &returned) == 0) {
        // The count covers the whole buffer, the block included.
        const DWORD data_count =
            returned > TRANSFER_BLOCK_SIZE ? returned - TRANSFER_BLOCK_SIZE : 0;
        if (data_count < STATUS_REPLY_SIZE) {
            printf("\nDevice returned less info than expected (%lu bytes of %lu)\n",
                   static_cast<unsigned long>(data_count),
                   static_cast<unsigned long>(STATUS_REPLY_SIZE));
        } else {
            StatusReply reply;
            decode_status_reply(buffer + TRANSFER_BLOCK_SIZE, &reply);
            if (phy_out != nullptr) {
                *phy_out = reply.phy_errors;
            }
            if (lnk_out != nullptr) {
                *lnk_out = reply.lnk_errors;
            }
            if (aux_word_out != nullptr) {
                *aux_word_out = reply.aux_word;
            }
            if (aux_byte_out != nullptr) {
                *aux_byte_out = reply.aux_byte;
            }
            result = 0;
        }
    }

    HeapFree(GetProcessHeap(), 0, buffer);
    CloseHandle(event);
    return result;
}
