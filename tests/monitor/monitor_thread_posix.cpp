// The monitor thread against the stand-in's keyboard and a manual clock that steps by a fixed
// amount at every reading, so that each pass sees a known tick whatever the real pace.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "app/run_state.h"
#include "monitor/monitor.h"
#include "portable/standin_control.h"

namespace {

const char greeting[] = "\nPress ESC for exit\n";

std::string line(const char* time_text, const char* read, const char* write, const char* errors) {
    return std::string("\r") + time_text + "  Read/Write=" + read + "/" + write +
           "MB/s  Errors PHY/LNK=" + errors + "\r";
}

struct MonitorThread : testing::Test {
    void SetUp() override {
        reset_run_state();
        standin::clear_keys();
        run_state.stop_event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        ASSERT_NE(run_state.stop_event, nullptr);
    }
    void TearDown() override {
        if (thread != nullptr) {
            request_stop();
            WaitForSingleObject(thread, 20000);
            CloseHandle(thread);
        }
        if (capturing) {
            testing::internal::GetCapturedStdout();
        }
        CloseHandle(run_state.stop_event);
        reset_run_state();
        standin::clear_keys();
        standin::set_tick_start(0);
    }

    void start() {
        fflush(stdout);
        testing::internal::CaptureStdout();
        capturing = true;
        thread = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, monitor, nullptr, 0, nullptr));
        ASSERT_NE(thread, nullptr);
    }

    // Waits for the thread's end (bounded), checks its exit code and returns what it printed.
    std::string finish() {
        EXPECT_EQ(WaitForSingleObject(thread, 20000), WAIT_OBJECT_0) << "the monitor did not end";
        DWORD code = 1234;
        EXPECT_TRUE(GetExitCodeThread(thread, &code));
        EXPECT_EQ(code, 0u);
        CloseHandle(thread);
        thread = nullptr;
        fflush(stdout);
        capturing = false;
        return testing::internal::GetCapturedStdout();
    }

    // Waits (bounded) until the clock has been read `readings` times since it was set at `tick`.
    static bool wait_for_readings(DWORD tick, DWORD step, DWORD readings) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (standin::peek_manual_tick() - tick < readings * step) {
            if (std::chrono::steady_clock::now() > deadline) {
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return true;
    }

    HANDLE thread = nullptr;
    bool capturing = false;
};

TEST_F(MonitorThread, StopRequestedBeforeStartPrintsGreetingAndNewlineOnly) {
    standin::use_manual_tick(1000u, 300u);
    run_state.exit_status = EXIT_STATUS_TRANSFER;
    request_stop();
    standin::push_key('x');
    start();
    EXPECT_EQ(finish(), std::string(greeting) + "\n");
    EXPECT_EQ(standin::peek_manual_tick(), 1300u) << "only the start tick is read";
    EXPECT_EQ(run_state.exit_status, EXIT_STATUS_TRANSFER);
    EXPECT_TRUE(is_stopping());
}

// The same script of passes from different start ticks, among them ones whose passes cross the
// wrap of the 32-bit tick: the status lines must not tell them apart.
struct ScriptCase {
    const char* name;
    DWORD start_tick;
};

struct MonitorScript : MonitorThread, testing::WithParamInterface<ScriptCase> {};

TEST_P(MonitorScript, KeysDroppedOnePerPassThenEscEndsWithoutAnotherLine) {
    const DWORD step = 300u;
    standin::use_manual_tick(GetParam().start_tick, step);
    run_state.bytes_read = 12582912;  // 12 MiB moved before the first rate update
    run_state.phy_errors = 5;
    run_state.lnk_errors = 7;
    run_state.exit_status = EXIT_STATUS_SETUP;
    for (int i = 0; i < 9; ++i) {
        standin::push_key(i % 2 == 0 ? 'x' : 13);
    }
    standin::push_key(27);
    start();
    // Passes 1..9 each drop one key and read the tick at start + 300 * pass; pass 10 reads ESC
    // and ends before its tick. Lines at 600, 1200, 1800 and 2400 ms; the rate updates at 1200
    // (12 MiB over 1.2 s) and 2400 (nothing more moved), not at 1800 (only 600 ms later).
    const std::string expected = std::string(greeting) + line("00:00:00", "  0.0", "  0.0", "5/7") +
                                 line("00:00:01", " 10.0", "  0.0", "5/7") +
                                 line("00:00:01", " 10.0", "  0.0", "5/7") +
                                 line("00:00:02", "  0.0", "  0.0", "5/7") + "\n";
    EXPECT_EQ(finish(), expected);
    EXPECT_EQ(standin::peek_manual_tick() - GetParam().start_tick, 10u * step);
    EXPECT_EQ(run_state.exit_status, EXIT_STATUS_SETUP) << "the monitor never writes it";
    EXPECT_TRUE(is_stopping());
}

INSTANTIATE_TEST_SUITE_P(
    StartTicks, MonitorScript,
    testing::Values(ScriptCase{"far_from_the_wrap", 1000u},
                    ScriptCase{"wrap_between_first_and_second_line", 4294966296u},
                    ScriptCase{"wrap_at_the_second_line", 4294966096u},
                    ScriptCase{"wrap_on_the_first_pass", 4294967200u}),
    [](const testing::TestParamInfo<ScriptCase>& info) { return std::string(info.param.name); });

struct TwoCodeCase {
    const char* name;
    int lead;
    int code;
    bool ends;
};

TEST_F(MonitorThread, EachCodeOfATwoCodeKeyIsComparedWithEscByItself) {
    const TwoCodeCase cases[] = {
        {"lead 224 then 27", 224, 27, true},
        {"lead 0 then 27", 0, 27, true},
        {"Up arrow", 224, 72, false},
        {"F1", 0, 59, false},
    };
    for (const TwoCodeCase& c : cases) {
        SCOPED_TRACE(c.name);
        if (run_state.stop_event != nullptr) {
            CloseHandle(run_state.stop_event);  // the fixture's, or none
        }
        reset_run_state();
        run_state.stop_event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        const DWORD step = 300u;
        standin::use_manual_tick(5000u, step);
        standin::push_key(c.lead);
        standin::push_key(c.code);
        start();
        if (c.ends) {
            // Pass 1 drops the lead and reads the tick; pass 2 reads 27 and ends.
            EXPECT_EQ(finish(), std::string(greeting) + "\n");
            EXPECT_EQ(standin::peek_manual_tick(), 5000u + 2 * step);
        } else {
            // Still running after four passes: two for the key, two more with the first line.
            ASSERT_TRUE(wait_for_readings(5000u, step, 5));
            EXPECT_FALSE(is_stopping());
            request_stop();
            const std::string printed = finish();
            EXPECT_EQ(printed.compare(0, sizeof greeting - 1, greeting), 0);
            EXPECT_NE(printed.find(line("00:00:00", "  0.0", "  0.0", "0/0")), std::string::npos)
                << printed;
            EXPECT_EQ(printed.back(), '\n');
        }
        CloseHandle(run_state.stop_event);
        run_state.stop_event = nullptr;
    }
    run_state.stop_event = CreateEventA(nullptr, TRUE, FALSE, nullptr);  // for TearDown
}

TEST_F(MonitorThread, StopFromAnotherThreadEndsTheWaitAtOnce) {
    // The stop comes just after a pass read the tick, so the monitor is at the start of its
    // 100 ms wait: only the signalled stop event can end it early. Best of three, so that one
    // slow wake-up on a busy machine does not decide.
    long long best_ms = 1000000;
    for (int attempt = 0; attempt < 3; ++attempt) {
        SCOPED_TRACE(attempt);
        if (run_state.stop_event != nullptr) {
            CloseHandle(run_state.stop_event);  // the fixture's, or none
        }
        reset_run_state();
        run_state.stop_event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        const DWORD step = 1u;  // no status line: only the wait counts
        standin::use_manual_tick(100u, step);
        start();
        ASSERT_TRUE(wait_for_readings(100u, step, 3));
        const auto stopped = std::chrono::steady_clock::now();
        request_stop();
        EXPECT_EQ(WaitForSingleObject(thread, 20000), WAIT_OBJECT_0);
        const auto ended = std::chrono::steady_clock::now();
        best_ms = std::min<long long>(
            best_ms,
            std::chrono::duration_cast<std::chrono::milliseconds>(ended - stopped).count());
        EXPECT_EQ(finish(), std::string(greeting) + "\n");
        CloseHandle(run_state.stop_event);
        run_state.stop_event = nullptr;
    }
    EXPECT_LT(best_ms, 50);
    run_state.stop_event = CreateEventA(nullptr, TRUE, FALSE, nullptr);  // for TearDown
}

TEST_F(MonitorThread, RunOfLessThanHalfASecondShowsNoStatusLine) {
    const DWORD step = 100u;
    standin::use_manual_tick(0xFFFFFFD0u, step);
    for (int i = 0; i < 4; ++i) {
        standin::push_key('a');
    }
    standin::push_key(27);
    start();
    // Passes at 100..400 ms: below the 500 ms of the first line.
    EXPECT_EQ(finish(), std::string(greeting) + "\n");
}

}  // namespace
