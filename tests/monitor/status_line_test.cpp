// The exact bytes of the status line, one print call each. Built for Linux and for Windows, so
// that the Windows runtime's formatting of "%llu" and "%5.1lf" is held to the same bytes.
#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "monitor/monitor_state.h"

namespace {

struct StatusLineCase {
    const char* name;
    const char* time_text;
    double read_mib_per_s;  // in units of 2^20 bytes per second
    double write_mib_per_s;
    const char* label;
    unsigned long long phy_total;
    unsigned long long lnk_total;
    const char* line;
};

std::string printed_line(const StatusLineCase& c) {
    MonitorState state;
    start_monitor_state(&state, 0u);
    strcpy(state.time_text, c.time_text);
    state.read_rate = c.read_mib_per_s * 1048576.0;
    state.write_rate = c.write_mib_per_s * 1048576.0;
    state.error_label = c.label;
    state.phy_total = c.phy_total;
    state.lnk_total = c.lnk_total;
    fflush(stdout);
    testing::internal::CaptureStdout();
    print_status_line(&state);
    fflush(stdout);
    return testing::internal::GetCapturedStdout();
}

TEST(MonitorStatusLine, BytesAsFormattedWithNothingAdded) {
    const StatusLineCase cases[] = {
        {"first line of a run", "00:00:00", 0.0, 0.0, "PHY/LNK", 0ull, 0ull,
         "\r00:00:00  Read/Write=  0.0/  0.0MB/s  Errors PHY/LNK=0/0\r"},
        {"a link at full speed", "00:01:40", 379.9, 379.9, "PHY/LNK", 3ull, 12ull,
         "\r00:01:40  Read/Write=379.9/379.9MB/s  Errors PHY/LNK=3/12\r"},
        {"rates of 1000 and more lengthen the line", "1d00:00:00", 1234.5, 0.0, "phy/lnk",
         4294967301ull, 18446744073709551615ull,
         "\r1d00:00:00  Read/Write=1234.5/  0.0MB/s  Errors "
         "phy/lnk=4294967301/18446744073709551615\r"},
        {"totals above 2^32", "49d17:02:47", 10.0, 99.95, "PHY/LNK", 4294967296ull,
         1099511627776ull,
         "\r49d17:02:47  Read/Write= 10.0/100.0MB/s  Errors PHY/LNK=4294967296/1099511627776\r"},
        // 0.25 is a tie at one decimal: both runtimes round it to the even digit.
        {"rounding at one decimal", "00:00:01", 0.25, 0.04, "PHY/LNK", 0ull, 0ull,
         "\r00:00:01  Read/Write=  0.2/  0.0MB/s  Errors PHY/LNK=0/0\r"},
        {"the longest time text", "4294967295d23:59:59", 0.05, 12345.67, "PHY/LNK", 1ull, 2ull,
         "\r4294967295d23:59:59  Read/Write=  0.1/12345.7MB/s  Errors PHY/LNK=1/2\r"},
    };
    for (const StatusLineCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(printed_line(c), std::string(c.line));
    }
}

}  // namespace
