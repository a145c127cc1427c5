// The monitor's arithmetic: every value it shows is computed here from its own record and the
// counters it read, so that the thread procedure only reads, calls and prints.
#include "monitor/monitor_state.h"

// 2^-20: bytes per second to the displayed unit of 1,048,576 bytes per second.
static const double bytes_to_display_unit = 9.5367431640625e-07;

static const unsigned long long ms_per_day = 86400000ull;
static const unsigned long long ms_per_hour = 3600000ull;
static const unsigned long long ms_per_minute = 60000ull;
static const unsigned long long ms_per_second = 1000ull;

void start_monitor_state(MonitorState* state, DWORD tick) {
    state->start_tick = tick;
    state->extended_tick = tick;
    state->last_refresh_tick = tick;
    state->last_rate_tick = tick;
    state->last_bytes_read = 0;
    state->last_bytes_written = 0;
    state->read_rate = 0.0;
    state->write_rate = 0.0;
    state->phy_total = 0;
    state->lnk_total = 0;
    state->last_status_polls = 0;
    state->stale_countdown = MONITOR_STALE_LINES;
    state->time_text[0] = '\0';
    state->error_label = error_label_for(state->stale_countdown);
}

void widen_reading(unsigned long long* total, DWORD reading) {
    const DWORD low = static_cast<DWORD>(*total & 0xFFFFFFFFull);
    unsigned long long high = *total >> 32;
    if (reading < low) {
        high += 1;
    }
    *total = (high << 32) | reading;
}

bool refresh_due(const MonitorState* state, DWORD now) {
    const DWORD since = now - state->last_refresh_tick;
    return since >= static_cast<DWORD>(MONITOR_REFRESH_MS);
}

bool rate_update_due(const MonitorState* state, DWORD now) {
    const DWORD since = now - state->last_rate_tick;
    return since > static_cast<DWORD>(MONITOR_RATE_MS);
}

void update_rates(MonitorState* state, DWORD now, DWORD bytes_read, DWORD bytes_written) {
    if (!rate_update_due(state, now)) {
        return;
    }
    const double dt = static_cast<double>(static_cast<DWORD>(now - state->last_rate_tick));
    const double dr = static_cast<double>(static_cast<DWORD>(bytes_read - state->last_bytes_read));
    const double dw =
        static_cast<double>(static_cast<DWORD>(bytes_written - state->last_bytes_written));
    state->read_rate = dr * 1000.0 / dt;
    state->write_rate = dw * 1000.0 / dt;
    state->last_rate_tick = now;
    state->last_bytes_read = bytes_read;
    state->last_bytes_written = bytes_written;
}

void note_status_polls(MonitorState* state, DWORD status_polls) {
    if (status_polls != state->last_status_polls) {
        state->stale_countdown = MONITOR_STALE_LINES;
        state->last_status_polls = status_polls;
    } else if (state->stale_countdown > 0) {
        state->stale_countdown -= 1;
    }
}

const char* error_label_for(int stale_countdown) {
    return stale_countdown != 0 ? "PHY/LNK" : "phy/lnk";
}

void format_time_text(unsigned long long elapsed_ms, char* text) {
    // The day count keeps the low 32 bits of its quotient; the rests stay below a day.
    const DWORD days = static_cast<DWORD>(elapsed_ms / ms_per_day);
    const unsigned long long r1 = elapsed_ms - static_cast<unsigned long long>(days) * ms_per_day;
    const DWORD hours = static_cast<DWORD>(r1 / ms_per_hour);
    const unsigned long long r2 = r1 - hours * ms_per_hour;
    const DWORD minutes = static_cast<DWORD>(r2 / ms_per_minute);
    const unsigned long long r3 = r2 - minutes * ms_per_minute;
    const DWORD seconds = static_cast<DWORD>(r3 / ms_per_second);
    int written;
    if (days != 0) {
        written =
            snprintf(text, MONITOR_TIME_TEXT_SIZE, "%lud%02lu:%02lu:%02lu", (unsigned long)days,
                     (unsigned long)hours, (unsigned long)minutes, (unsigned long)seconds);
    } else {
        written = snprintf(text, MONITOR_TIME_TEXT_SIZE, "%02lu:%02lu:%02lu", (unsigned long)hours,
                           (unsigned long)minutes, (unsigned long)seconds);
    }
    if (written < 0) {
        text[MONITOR_TIME_TEXT_SIZE - 1] = '\0';
    }
}

void print_status_line(const MonitorState* state) {
    printf("\r%s  Read/Write=%5.1lf/%5.1lfMB/s  Errors %s=%llu/%llu\r", state->time_text,
           state->read_rate * bytes_to_display_unit, state->write_rate * bytes_to_display_unit,
           state->error_label, (unsigned long long)state->phy_total,
           (unsigned long long)state->lnk_total);
}
