// The program's entry point: the command line, then the monitor alone until the user ends the
// run with ESC; the device and its threads join in later.
#include "app/command_line.h"
#include "app/run_state.h"
#include "monitor/monitor.h"

int main(int argument_count, char** arguments) {
    // Every print must reach the console at once, the status line included, which has no
    // newline. Unbuffered, each print call is written under the stream's lock, so no print is
    // split by another thread's.
    setvbuf(stdout, nullptr, _IONBF, 0);
    Options options = parse_command_line(argument_count, arguments);
    (void)options;

    HANDLE monitor_thread = nullptr;
    run_state.stop_event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (run_state.stop_event == nullptr) {
        printf("\nERROR:  Cannot create event\n");
        plain_store(&run_state.exit_status, EXIT_STATUS_SETUP);
    } else {
        unsigned thread_id = 0;
        monitor_thread =
            reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, monitor, nullptr, 0, &thread_id));
        if (monitor_thread == nullptr) {
            printf("\nERROR: _beginthreadex failed, error code=%u\n", (unsigned)errno);
            plain_store(&run_state.exit_status, EXIT_STATUS_SETUP);
        }
    }
    if (monitor_thread != nullptr) {
        while (!is_stopping()) {
            WaitForSingleObject(run_state.stop_event, INFINITE);
        }
    }
    request_stop();
    if (monitor_thread != nullptr) {
        WaitForSingleObject(monitor_thread, INFINITE);
        CloseHandle(monitor_thread);
    }
    return plain_load(&run_state.exit_status);
}
