// The lifecycle of a test run: stop event, device, monitor, start request, status poller and
// bulk workers; then the wait; then stop, joins, device close and the exit status.
#include "app/test_run.h"

#include "app/run_state.h"
#include "device/device_open.h"
#include "monitor/monitor.h"
#include "status/status_poller.h"
#include "status/status_request.h"
#include "stream/bulk_stream.h"

// The threads of a run, in the order they are joined; null until started.
struct RunThreads {
    HANDLE monitor;
    HANDLE bulk_reader;
    HANDLE bulk_writer;
    HANDLE status_poller;
};

static HANDLE start_thread(unsigned(__stdcall* entry)(void*)) {
    unsigned thread_id = 0;
    HANDLE thread =
        reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, entry, nullptr, 0, &thread_id));
    if (thread == nullptr) {
        printf("\nERROR: _beginthreadex failed, error code=%u\n", static_cast<unsigned>(errno));
        plain_store(&run_state.exit_status, EXIT_STATUS_SETUP);
    }
    return thread;
}

// Runs the start-up steps in order; returns 1 at the first that fails, with its message
// printed and its exit status stored.
static int start_up(const Options* options, RunThreads* threads) {
    run_state.stop_event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (run_state.stop_event == nullptr) {
        printf("\nERROR:  Cannot create event\n");
        plain_store(&run_state.exit_status, EXIT_STATUS_SETUP);
        return 1;
    }
    run_state.device_handle = open_device_interface(
        &device_interface_class, options->device_index, GENERIC_READ | GENERIC_WRITE,
        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (run_state.device_handle == INVALID_HANDLE_VALUE) {
        printf("\nERROR:  Cannot open device %d\n", static_cast<int>(options->device_index));
        plain_store(&run_state.exit_status, EXIT_STATUS_SETUP);
        return 1;
    }
    threads->monitor = start_thread(monitor);
    if (threads->monitor == nullptr) {
        return 1;
    }
    // query_status prints what went wrong; ignore_ep0_errors is still 0 here, so nothing of
    // the start request's failure is held back.
    if (query_status(run_state.device_handle, 1, nullptr, nullptr, nullptr, nullptr) != 0) {
        plain_store(&run_state.exit_status, EXIT_STATUS_TRANSFER);
        return 1;
    }
    plain_store(&run_state.ignore_ep0_errors, static_cast<LONG>(options->ignore_ep0_errors));
    threads->status_poller = start_thread(status_poller);
    if (threads->status_poller == nullptr) {
        return 1;
    }
    if (!options->no_write) {
        threads->bulk_writer = start_thread(bulk_writer);
        if (threads->bulk_writer == nullptr) {
            return 1;
        }
    }
    if (!options->no_read) {
        threads->bulk_reader = start_thread(bulk_reader);
        if (threads->bulk_reader == nullptr) {
            return 1;
        }
    }
    return 0;
}

static void join_thread(HANDLE thread) {
    if (thread != nullptr) {
        WaitForSingleObject(thread, INFINITE);
        CloseHandle(thread);
    }
}

int run_test(const Options* options) {
    RunThreads threads = {nullptr, nullptr, nullptr, nullptr};
    if (start_up(options, &threads) == 0) {
        // The other threads end the run; the main thread only waits for them to say so.
        while (!is_stopping()) {
            WaitForSingleObject(run_state.stop_event, INFINITE);
        }
    }
    request_stop();
    join_thread(threads.monitor);
    join_thread(threads.bulk_reader);
    join_thread(threads.bulk_writer);
    join_thread(threads.status_poller);
    // After the joins no thread uses the device any more. The stop event stays open until
    // the process ends.
    if (run_state.device_handle != INVALID_HANDLE_VALUE) {
        CloseHandle(run_state.device_handle);
    }
    return plain_load(&run_state.exit_status);
}
