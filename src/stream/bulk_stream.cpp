// The bulk reader and writer: one worker procedure, told apart by a constant table. The
// transfer loop does nothing per transfer but issue it, wait for it and add its byte count.
#include "stream/bulk_stream.h"

#include "app/run_state.h"
#include "device/error_text.h"
#include "device/transfer.h"
#include "device/transfer_block.h"

namespace {

// What tells the twins apart.
struct StreamWorker {
    BYTE endpoint_address;
    volatile LONG* counter;
    const char* cancel_message;
    const char* failed_at_once;  // "%lu" the error code, "%s" its system text
    const char* failed_pending;  // the same, for a pending transfer's final result
    int sends_pattern;           // the writer fills its buffer once, before the block
};

enum { READER, WRITER };

const StreamWorker workers[] = {
    {
        ENDPOINT_BULK_IN,
        &run_state.bytes_read,
        "Cancelling read operation\n",
        "\nRead from device failed (error code=%lu)\n%s\n",
        "\nRead from device failed (GetOverlappedResult error code=%lu)\n%s\n",
        0,
    },
    {
        ENDPOINT_BULK_OUT,
        &run_state.bytes_written,
        "Cancelling write operation\n",
        "\nWrite to device failed (error code=%lu)\n%s\n",
        "\nWrite to device failed (GetOverlappedResult error code=%lu)\n%s\n",
        1,
    },
};

}  // namespace

// The writer's data: 32-bit words stored little-endian, byte by byte whatever the host's order,
// word0 at even word positions and word1 at odd ones.
static void fill_pattern(BYTE* buffer, DWORD word0, DWORD word1) {
    for (int word = 0; word < BULK_TRANSFER_SIZE / 4; ++word) {
        const DWORD value = (word % 2 == 0) ? word0 : word1;
        BYTE* bytes = buffer + 4 * word;
        bytes[0] = static_cast<BYTE>(value);
        bytes[1] = static_cast<BYTE>(value >> 8);
        bytes[2] = static_cast<BYTE>(value >> 16);
        bytes[3] = static_cast<BYTE>(value >> 24);
    }
}

static void print_failure(const char* format, DWORD error) {
    char* text = system_error_text(error);
    printf(format, static_cast<unsigned long>(error), text != nullptr ? text : "");
    release_error_text(text);
}

// Keeps one transfer in flight after the other until a stop is seen or a transfer fails.
static void stream_transfers(const StreamWorker* worker, TransferBlock* block, BYTE* data,
                             OVERLAPPED* overlapped) {
    DWORD returned = 0;

    if (is_stopping()) {
        return;
    }
    for (;;) {
        if (!DeviceIoControl(run_state.device_handle, IOCTL_DATA_TRANSFER, block,
                             TRANSFER_BLOCK_SIZE, data, BULK_TRANSFER_SIZE, &returned,
                             overlapped)) {
            DWORD error = GetLastError();
            if (error != ERROR_IO_PENDING) {
                print_failure(worker->failed_at_once, error);
                plain_store(&run_state.exit_status, EXIT_STATUS_TRANSFER);
                return;
            }
            bool stop_seen = false;
            if (await_transfer(run_state.device_handle, overlapped, &returned,
                               worker->cancel_message, &error, &stop_seen) != 0) {
                print_failure(worker->failed_pending, error);
                // A transfer cancelled at the end of the run does not count against it.
                if (!stop_seen) {
                    plain_store(&run_state.exit_status, EXIT_STATUS_TRANSFER);
                }
                return;
            }
        }
        InterlockedExchangeAdd(worker->counter, static_cast<LONG>(returned));
        if (is_stopping()) {
            return;
        }
    }
}

static void run_worker(const StreamWorker* worker) {
    OVERLAPPED overlapped;
    BYTE* data = nullptr;
    TransferBlock* block = nullptr;

    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (event == nullptr) {
        printf("\nERROR: failed to create Event\n");
        plain_store(&run_state.exit_status, EXIT_STATUS_SETUP);
    } else {
        memset(&overlapped, 0, sizeof overlapped);
        overlapped.hEvent = event;
        data = static_cast<BYTE*>(HeapAlloc(GetProcessHeap(), 0, BULK_TRANSFER_SIZE));
        if (data != nullptr && worker->sends_pattern) {
            fill_pattern(data, run_state.pattern_word0, run_state.pattern_word1);
        }
        if (data != nullptr) {
            block =
                static_cast<TransferBlock*>(HeapAlloc(GetProcessHeap(), 0, sizeof(TransferBlock)));
        }
        if (block == nullptr) {
            printf("\nERROR: Insufficient memory\n");
            plain_store(&run_state.exit_status, EXIT_STATUS_SETUP);
        } else {
            fill_bulk_block(block, worker->endpoint_address);
            stream_transfers(worker, block, data, &overlapped);
        }
        if (data != nullptr) {
            HeapFree(GetProcessHeap(), 0, data);
        }
        if (block != nullptr) {
            HeapFree(GetProcessHeap(), 0, block);
        }
        CloseHandle(event);
    }
    // A worker that ends on its own ends the whole run; one that saw a stop leaves it be.
    if (!is_stopping()) {
        request_stop();
    }
}

unsigned __stdcall bulk_reader(void*) {
    run_worker(&workers[READER]);
    return 0;
}

unsigned __stdcall bulk_writer(void*) {
    run_worker(&workers[WRITER]);
    return 0;
}
