// The monitor thread: passes paced by the stop event, one key read per pass, a refresh of the
// status line from the run state's counters at least 500 ms apart.
#include "monitor/monitor.h"

#include "app/run_state.h"
#include "monitor/monitor_state.h"

// Reads the counters in their fixed order and prints one status line for the pass at `now`.
static void refresh(MonitorState* state, DWORD now) {
    const DWORD bytes_read = read_counter(&run_state.bytes_read);
    const DWORD bytes_written = read_counter(&run_state.bytes_written);
    update_rates(state, now, bytes_read, bytes_written);
    widen_reading(&state->phy_total, read_counter(&run_state.phy_errors));
    widen_reading(&state->lnk_total, read_counter(&run_state.lnk_errors));
    note_status_polls(state, read_counter(&run_state.status_polls));
    format_time_text(state->extended_tick - state->start_tick, state->time_text);
    state->error_label = error_label_for(state->stale_countdown);
    print_status_line(state);
    state->last_refresh_tick = now;
}

unsigned __stdcall monitor(void* ignored) {
    (void)ignored;
    MonitorState state;
    start_monitor_state(&state, 0);
    printf("\nPress ESC for exit\n");
    start_monitor_state(&state, GetTickCount());
    bool running = !is_stopping();
    while (running) {
        if (_kbhit() && _getch() == MONITOR_KEY_ESC) {
            break;
        }
        const DWORD now = GetTickCount();
        widen_reading(&state.extended_tick, now);
        if (refresh_due(&state, now)) {
            refresh(&state, now);
        }
        WaitForSingleObject(run_state.stop_event, MONITOR_WAIT_MS);
        running = !is_stopping();
    }
    printf("\n");
    request_stop();
    return 0;
}
