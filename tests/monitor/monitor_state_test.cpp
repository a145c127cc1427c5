// The monitor's arithmetic, driven directly: time text, tick and count widening, the refresh
// and rate gates at their edges and across wraps, the rates, and the freshness label.
#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <vector>

#include "monitor/monitor_state.h"

namespace {

struct TimeTextCase {
    unsigned long long elapsed_ms;
    const char* text;
};

TEST(MonitorTimeText, FormatsDaysHoursMinutesSecondsAndDropsMilliseconds) {
    const TimeTextCase cases[] = {
        {0ull, "00:00:00"},
        {515ull, "00:00:00"},
        {999ull, "00:00:00"},
        {1000ull, "00:00:01"},
        {59999ull, "00:00:59"},
        {60000ull, "00:01:00"},
        {3599999ull, "00:59:59"},
        {3723456ull, "01:02:03"},
        {86399999ull, "23:59:59"},
        {86400000ull, "1d00:00:00"},
        {86400000ull * 10 + 3723456ull, "10d01:02:03"},
        {4294967296ull, "49d17:02:47"},
        {86400000000ull, "1000d00:00:00"},
        // The highest 32-bit day count and the last millisecond of that day: the longest text.
        {4294967295ull * 86400000ull + 86399999ull, "4294967295d23:59:59"},
    };
    for (const TimeTextCase& c : cases) {
        SCOPED_TRACE(c.elapsed_ms);
        char text[MONITOR_TIME_TEXT_SIZE];
        memset(text, 'x', sizeof text);
        format_time_text(c.elapsed_ms, text);
        EXPECT_STREQ(text, c.text);
    }
    char longest[MONITOR_TIME_TEXT_SIZE];
    format_time_text(4294967295ull * 86400000ull + 86399999ull, longest);
    EXPECT_EQ(strlen(longest), 19u);
}

struct WidenCase {
    unsigned long long total;
    DWORD reading;
    unsigned long long widened;
};

TEST(MonitorWidening, AReadingBelowTheLowWordCountsAsOneWrap) {
    const WidenCase cases[] = {
        {0ull, 0u, 0ull},
        {0ull, 5u, 5ull},
        {5ull, 5u, 5ull},                                    // no change, no wrap
        {4294967280ull, 5u, 4294967301ull},                  // 0xFFFFFFF0, then 5
        {0xFFFFFFFFull, 0u, 0x100000000ull},                 // the smallest possible wrap
        {0x10000000Aull, 11u, 0x10000000Bull},               // high word kept
        {0x10000000Aull, 9u, 0x200000009ull},                // a fall: high word moves again
        {0x7FFFFFFFFFFFFFFFull, 0u, 0x8000000000000000ull},  // above 2^63, still unsigned
    };
    for (const WidenCase& c : cases) {
        SCOPED_TRACE(testing::Message() << c.total << " then " << c.reading);
        unsigned long long total = c.total;
        widen_reading(&total, c.reading);
        EXPECT_EQ(total, c.widened);
    }
}

TEST(MonitorWidening, TickExtensionRunsOnAcrossTheWrapOfTheTick) {
    MonitorState state;
    start_monitor_state(&state, 0xFFFFFF00u);
    // Readings about 100 ms apart, crossing 2^32 twice.
    const DWORD readings[] = {0xFFFFFF64u, 0xFFFFFFC8u, 0x0000002Cu,
                              0x00000090u, 0xFFFFFFF0u, 0x00000054u};
    const unsigned long long expected[] = {0xFFFFFF64ull,  0xFFFFFFC8ull,  0x10000002Cull,
                                           0x100000090ull, 0x1FFFFFFF0ull, 0x200000054ull};
    for (size_t i = 0; i < sizeof readings / sizeof readings[0]; ++i) {
        SCOPED_TRACE(i);
        widen_reading(&state.extended_tick, readings[i]);
        EXPECT_EQ(state.extended_tick, expected[i]);
    }
    EXPECT_EQ(state.start_tick, 0xFFFFFF00ull);
}

struct GateCase {
    DWORD last;
    DWORD now;
    bool due;
};

TEST(MonitorGates, RefreshNeedsFiveHundredMillisecondsModuloTwoToThe32) {
    const GateCase cases[] = {
        {1000u, 1000u, false},
        {1000u, 1499u, false},
        {1000u, 1500u, true},  // 500 itself is enough
        {1000u, 1501u, true},
        {0xFFFFFF00u, 0x000000F3u, false},  // 499 across the wrap
        {0xFFFFFF00u, 0x000000F4u, true},   // 500 across the wrap
        {0u, 0x80000000u, true},            // a half cycle is still "later"
        {0u, 0xFFFFFFFFu, true},
    };
    for (const GateCase& c : cases) {
        SCOPED_TRACE(testing::Message() << c.last << " -> " << c.now);
        MonitorState state;
        start_monitor_state(&state, c.last);
        EXPECT_EQ(refresh_due(&state, c.now), c.due);
    }
}

TEST(MonitorGates, RateUpdateNeedsMoreThanOneSecondModuloTwoToThe32) {
    const GateCase cases[] = {
        {1000u, 1000u, false},
        {1000u, 2000u, false},  // 1000 itself is not enough
        {1000u, 2001u, true},
        {0xFFFFFE00u, 0x000001E8u, false},  // 1000 across the wrap
        {0xFFFFFE00u, 0x000001E9u, true},   // 1001 across the wrap
        {0u, 0x80000000u, true},
    };
    for (const GateCase& c : cases) {
        SCOPED_TRACE(testing::Message() << c.last << " -> " << c.now);
        MonitorState state;
        start_monitor_state(&state, c.last);
        EXPECT_EQ(rate_update_due(&state, c.now), c.due);
    }
}

struct RateCase {
    const char* name;
    DWORD last_tick, last_read, last_written;
    DWORD now, bytes_read, bytes_written;
    double read_rate, write_rate;  // bytes per second
};

TEST(MonitorRates, DifferencesModuloTwoToThe32OverTheTimeSinceTheLastUpdate) {
    const RateCase cases[] = {
        {"plain", 1000u, 0u, 0u, 3000u, 2097152u, 0u, 1048576.0, 0.0},
        {"both directions", 5000u, 100u, 200u, 6024u, 1124u, 2248u, 1000.0, 2000.0},
        {"read counter wraps", 1000u, 0xFFFFFF00u, 0u, 3000u, 0x00000100u, 0u, 256.0, 0.0},
        {"write counter wraps", 1000u, 0u, 0xFFFFFFFFu, 2024u, 0u, 1023u, 0.0, 1000.0},
        {"tick wraps", 0xFFFFFC00u, 0u, 0u, 0x00000400u, 2048u, 4096u, 1000.0, 2000.0},
        // A difference above 2^31 must stay positive.
        {"difference above 2^31", 0u, 0u, 0u, 1001u, 0xFFFFFFFFu, 0x80000000u,
         4294967295.0 * 1000.0 / 1001.0, 2147483648.0 * 1000.0 / 1001.0},
    };
    for (const RateCase& c : cases) {
        SCOPED_TRACE(c.name);
        MonitorState state;
        start_monitor_state(&state, c.last_tick);
        state.last_bytes_read = c.last_read;
        state.last_bytes_written = c.last_written;
        update_rates(&state, c.now, c.bytes_read, c.bytes_written);
        EXPECT_DOUBLE_EQ(state.read_rate, c.read_rate);
        EXPECT_DOUBLE_EQ(state.write_rate, c.write_rate);
        EXPECT_EQ(state.last_rate_tick, c.now);
        EXPECT_EQ(state.last_bytes_read, c.bytes_read);
        EXPECT_EQ(state.last_bytes_written, c.bytes_written);
    }
}

TEST(MonitorRates, NoUpdateAtOneSecondKeepsRatesAndRememberedValues) {
    MonitorState state;
    start_monitor_state(&state, 1000u);
    update_rates(&state, 2001u, 3000u, 5000u);  // the first update: 1001 ms
    ASSERT_DOUBLE_EQ(state.read_rate, 3000.0 * 1000.0 / 1001.0);
    const MonitorState before = state;
    update_rates(&state, 3001u, 999999u, 999999u);  // exactly 1000 ms later: no update
    EXPECT_EQ(state.read_rate, before.read_rate);
    EXPECT_EQ(state.write_rate, before.write_rate);
    EXPECT_EQ(state.last_rate_tick, 2001u);
    EXPECT_EQ(state.last_bytes_read, 3000u);
    EXPECT_EQ(state.last_bytes_written, 5000u);
    // The bytes of the dropped reading are not lost: the next update measures from 2001.
    update_rates(&state, 3002u, 4001u, 5000u);
    EXPECT_DOUBLE_EQ(state.read_rate, 1001.0 * 1000.0 / 1001.0);
    EXPECT_EQ(state.write_rate, 0.0);
}

TEST(MonitorFreshness, LabelTurnsLowerCaseOnTheTenthLineWithoutAPollAndBackOnTheNext) {
    MonitorState state;
    start_monitor_state(&state, 0u);
    // status_polls as each status line reads it: no poll ever succeeds at first.
    std::vector<std::string> labels;
    for (int line = 1; line <= 12; ++line) {
        note_status_polls(&state, 0u);
        labels.push_back(error_label_for(state.stale_countdown));
        EXPECT_GE(state.stale_countdown, 0);
    }
    for (int line = 1; line <= 12; ++line) {
        SCOPED_TRACE(line);
        EXPECT_EQ(labels[line - 1], line < 10 ? "PHY/LNK" : "phy/lnk");
    }
    note_status_polls(&state, 1u);  // a poll succeeded
    EXPECT_STREQ(error_label_for(state.stale_countdown), "PHY/LNK");
    EXPECT_EQ(state.stale_countdown, MONITOR_STALE_LINES);
    EXPECT_EQ(state.last_status_polls, 1u);
    for (int line = 1; line <= 9; ++line) {
        note_status_polls(&state, 1u);
    }
    EXPECT_STREQ(error_label_for(state.stale_countdown), "PHY/LNK");
    note_status_polls(&state, 1u);
    EXPECT_STREQ(error_label_for(state.stale_countdown), "phy/lnk");
    // Any change counts, the wrap of the poll counter included.
    state.last_status_polls = 0xFFFFFFFFu;
    note_status_polls(&state, 0u);
    EXPECT_STREQ(error_label_for(state.stale_countdown), "PHY/LNK");
}

TEST(MonitorStart, InitialValuesAndFirstLineEdges) {
    MonitorState state;
    memset(&state, 0x5A, sizeof state);
    start_monitor_state(&state, 0xFFFFFFF0u);
    EXPECT_EQ(state.start_tick, 0xFFFFFFF0ull);
    EXPECT_EQ(state.extended_tick, 0xFFFFFFF0ull);
    EXPECT_EQ(state.last_refresh_tick, 0xFFFFFFF0u);
    EXPECT_EQ(state.last_rate_tick, 0xFFFFFFF0u);
    EXPECT_EQ(state.last_bytes_read, 0u);
    EXPECT_EQ(state.last_bytes_written, 0u);
    EXPECT_EQ(state.read_rate, 0.0);
    EXPECT_EQ(state.write_rate, 0.0);
    EXPECT_EQ(state.phy_total, 0ull);
    EXPECT_EQ(state.lnk_total, 0ull);
    EXPECT_EQ(state.last_status_polls, 0u);
    EXPECT_EQ(state.stale_countdown, 10);
}

}  // namespace
