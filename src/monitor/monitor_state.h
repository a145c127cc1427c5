// The monitor's own record and the arithmetic of its passes and refreshes: tick extension,
// the refresh and rate gates, the rates, the widening of the error counts, their freshness
// and the elapsed-time text. Pure procedures over the record, so they can be driven directly.
#pragma once

#include "platform/platform.h"

enum {
    MONITOR_KEY_ESC = 27,
    MONITOR_WAIT_MS = 100,        // longest wait on the stop event per pass
    MONITOR_REFRESH_MS = 500,     // least time between two status lines (500 is enough)
    MONITOR_RATE_MS = 1000,       // time to exceed between two rate updates
    MONITOR_STALE_LINES = 10,     // status lines without a poll before the label turns lower case
    MONITOR_TIME_TEXT_SIZE = 22,  // bytes of the time text, terminator included
};

struct MonitorState {
    unsigned long long start_tick;     // origin of the elapsed time
    unsigned long long extended_tick;  // latest tick reading, extended to 64 bits by its wraps
    DWORD last_refresh_tick;           // tick of the pass that printed the last status line
    DWORD last_rate_tick;              // tick of the last rate update
    DWORD last_bytes_read;             // bytes_read at the last rate update
    DWORD last_bytes_written;          // bytes_written at the last rate update
    double read_rate;                  // bytes per second, as of the last rate update
    double write_rate;
    unsigned long long phy_total;  // widened from phy_errors
    unsigned long long lnk_total;  // widened from lnk_errors
    DWORD last_status_polls;       // status_polls as last seen to change
    int stale_countdown;           // status lines still to go before the counts show as stale
    char time_text[MONITOR_TIME_TEXT_SIZE];
    const char* error_label;  // "PHY/LNK", or "phy/lnk" once the counts are stale
};

// The initial values, with `tick` the reading taken at start.
void start_monitor_state(MonitorState* state, DWORD tick);

// Extends a 32-bit reading to 64 bits: a reading below the low word of `total` counts as one
// wrap past 2^32. Used for the tick and for both error counts.
void widen_reading(unsigned long long* total, DWORD reading);

// True when `now` is 500 ms or more after the last status line, modulo 2^32.
bool refresh_due(const MonitorState* state, DWORD now);

// True when `now` is more than 1000 ms after the last rate update, modulo 2^32.
bool rate_update_due(const MonitorState* state, DWORD now);

// The rate update of a refresh, made only when rate_update_due; `bytes_read` and
// `bytes_written` are the counters as read by this refresh.
void update_rates(MonitorState* state, DWORD now, DWORD bytes_read, DWORD bytes_written);

// Freshness of the error counts: a change of `status_polls` rewinds the countdown to 10,
// otherwise it goes down by one and stops at 0.
void note_status_polls(MonitorState* state, DWORD status_polls);

// "PHY/LNK" while the countdown runs, "phy/lnk" once it is 0.
const char* error_label_for(int stale_countdown);

// The elapsed time `elapsed_ms` as "HH:MM:SS", or "Dd" before it from one day on, into a
// buffer of MONITOR_TIME_TEXT_SIZE bytes.
void format_time_text(unsigned long long elapsed_ms, char* text);

// The status line, printed with one call.
void print_status_line(const MonitorState* state);
