// The `stats=PATH` file of the real program: at exit the exit line and one stats line per
// endpoint, and no line per request, alone or beside a trace.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "e2e/emulator_trace.h"
#include "support/process.h"

namespace {

using testing_support::TraceFile;
using testing_support::TraceLine;

TEST(StatsFileTest, HoldsTheExitAndStatsLinesOnlyAndAgreesWithTheTrace) {
    for (bool with_trace : {false, true}) {
        SCOPED_TRACE(with_trace ? "with a trace" : "alone");
        TraceFile stats;
        TraceFile trace;
        // No terminal: the third read fails and ends the run.
        std::string scenario = "read_mbps=0;write_mbps=0;read_fail=3:1117;stats=" +
                               stats.item().substr(std::string("trace=").size());
        if (with_trace) {
            scenario += ";" + trace.item();
        }
        const testing_support::ProcessResult result = testing_support::run_process(
            testing_support::program_path(), {}, {"CORVANTEL_EMULATOR=" + scenario}, 30000);
        EXPECT_EQ(result.exit_status, 2) << result.out << result.err;

        const std::vector<TraceLine> lines = stats.lines();
        ASSERT_EQ(lines.size(), 4u);
        EXPECT_EQ(lines[0].word, "exit");
        EXPECT_EQ(lines[0].fields.count("open_device_handles"), 1u);
        EXPECT_EQ(lines[0].fields.at("open_thread_handles"), "0");
        const char* endpoints[] = {"0x00", "0x01", "0x81"};
        for (int i = 0; i < 3; ++i) {
            SCOPED_TRACE(endpoints[i]);
            const TraceLine& line = lines[1 + i];
            EXPECT_EQ(line.word, "stats");
            EXPECT_EQ(line.fields.at("ep"), endpoints[i]);
            for (const char* key : {"requests", "completed", "bytes", "busy_us", "turnarounds",
                                    "mean_us", "median_us", "p99_us", "max_us"}) {
                EXPECT_EQ(line.fields.count(key), 1u) << key;
            }
        }
        EXPECT_EQ(lines[3].fields.at("requests"), "3");
        EXPECT_EQ(lines[3].fields.at("bytes"), std::to_string(2 * 65536));
        if (with_trace) {
            // The trace ends with the same lines, after every request line.
            const std::vector<TraceLine> traced = trace.lines();
            ASSERT_GE(traced.size(), 4u);
            EXPECT_GE(trace.lines_of("request").size(), 3u);
            for (size_t i = 0; i < 4; ++i) {
                EXPECT_EQ(traced[traced.size() - 4 + i].text, lines[i].text);
            }
        }
    }
}

}  // namespace
