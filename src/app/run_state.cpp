// The run state's initial values and the stop signal.
#include "app/run_state.h"

RunState run_state = {
    0, nullptr, EXIT_STATUS_OK, INVALID_HANDLE_VALUE, 0, 0x00000000u, 0xFFFFFFFFu, 0, 0, 0, 0, 0,
};

void request_stop(void) {
    // Flag first, event second: a thread woken by the event then sees is_stopping true.
    InterlockedExchange(&run_state.stop_flag, 1);
    if (run_state.stop_event != nullptr) {
        SetEvent(run_state.stop_event);
    }
}

bool is_stopping(void) {
    return plain_load(&run_state.stop_flag) != 0;
}

void reset_run_state(void) {
    run_state.stop_flag = 0;
    run_state.stop_event = nullptr;
    run_state.exit_status = EXIT_STATUS_OK;
    run_state.device_handle = INVALID_HANDLE_VALUE;
    run_state.ignore_ep0_errors = 0;
    run_state.pattern_word0 = 0x00000000u;
    run_state.pattern_word1 = 0xFFFFFFFFu;
    run_state.bytes_read = 0;
    run_state.bytes_written = 0;
    run_state.phy_errors = 0;
    run_state.lnk_errors = 0;
    run_state.status_polls = 0;
}
