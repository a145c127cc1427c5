// The status poller against the emulated device: its cadence, what it publishes, when it ends
// the run and with what exit status and messages.
#include <gtest/gtest.h>

#include <string>

#include "status/status_poller.h"
#include "support/emulated_run.h"

namespace {

using testing_support::EmulatedRun;
using testing_support::error_text;
using testing_support::seconds_since;
using testing_support::SteadyClock;

const std::string hint =
    "Note, if your host uses Etron USB3.0 driver, consider running\n"
    "Corvantel  with -ignore_EP0_errors option\n"
    "Type   Corvantel -help    for getting help on options\n";

std::string control_failure(const char* kind, DWORD code) {
    return std::string("\nControl pipe DeviceIoControl failed (") + kind +
           "error code=" + std::to_string(code) + ")\n" + error_text(code) + "\n";
}

// Waits until status_polls reaches `count`; false after `limit_ms`.
bool wait_polls(DWORD count, int limit_ms) {
    const SteadyClock::time_point start = SteadyClock::now();
    while (read_counter(&run_state.status_polls) < count) {
        if (seconds_since(start) * 1000 > limit_ms) {
            return false;
        }
        Sleep(5);
    }
    return true;
}

using StatusPoller = EmulatedRun;

TEST_F(StatusPoller, StopBeforeTheFirstStepSendsNoPoll) {
    start_run("");
    request_stop();
    capture();
    HANDLE thread = start_thread(status_poller);
    ASSERT_NE(thread, nullptr);
    EXPECT_EQ(join(thread, 5000), 0u);
    EXPECT_EQ(captured(), "");
    EXPECT_EQ(emulator::figures(0x00).received, 0u);
    EXPECT_EQ(run_state.status_polls, 0);
    EXPECT_EQ(run_state.exit_status, EXIT_STATUS_OK);
}

TEST_F(StatusPoller, StopDuringTheWaitEndsItAtOnce) {
    start_run("phy=5");
    HANDLE thread = start_thread(status_poller);
    ASSERT_NE(thread, nullptr);
    ASSERT_TRUE(wait_polls(1, 5000));
    Sleep(200);  // well inside the 1000 ms pause
    const SteadyClock::time_point stopped_at = SteadyClock::now();
    request_stop();
    EXPECT_EQ(join(thread, 5000), 0u);
    EXPECT_LT(seconds_since(stopped_at), 0.6);
    EXPECT_EQ(emulator::figures(0x00).received, 1u);
    EXPECT_EQ(run_state.status_polls, 1);
    EXPECT_EQ(run_state.phy_errors, 5);
    EXPECT_EQ(run_state.exit_status, EXIT_STATUS_OK);
}

TEST_F(StatusPoller, PublishesTheLow32BitsOfEachCount) {
    start_run("phy=0x100000005;lnk=0xFFFFFFFF00000007");
    HANDLE thread = start_thread(status_poller);
    ASSERT_NE(thread, nullptr);
    ASSERT_TRUE(wait_polls(1, 5000));
    request_stop();
    join(thread);
    EXPECT_EQ(static_cast<DWORD>(run_state.phy_errors), 5u);
    EXPECT_EQ(static_cast<DWORD>(run_state.lnk_errors), 7u);
    EXPECT_EQ(static_cast<DWORD>(run_state.status_polls), 1u);
}

TEST_F(StatusPoller, CountsFollowTheDeviceOnceASecond) {
    start_run("phy=100:3;lnk=0xFFFFFFFF:2");
    const SteadyClock::time_point started_at = SteadyClock::now();
    HANDLE thread = start_thread(status_poller);
    ASSERT_NE(thread, nullptr);
    ASSERT_TRUE(wait_polls(3, 10000));
    const double elapsed = seconds_since(started_at);
    request_stop();
    join(thread);
    // Polls at about 0 s, 1 s and 2 s.
    EXPECT_GE(elapsed, 1.8);
    EXPECT_LE(elapsed, 4.0);
    const DWORD polls = static_cast<DWORD>(run_state.status_polls);
    ASSERT_GE(polls, 3u);
    EXPECT_EQ(emulator::figures(0x00).received, polls);
    EXPECT_EQ(static_cast<DWORD>(run_state.phy_errors), 100u + 3u * (polls - 1));
    // The LNK count crosses 2^32 at the second poll; the published 32 bits wrap with it.
    EXPECT_EQ(static_cast<DWORD>(run_state.lnk_errors), 0xFFFFFFFFu + 2u * (polls - 1));
    EXPECT_EQ(run_state.exit_status, EXIT_STATUS_OK);
}

TEST_F(StatusPoller, IgnoredFailuresKeepPollingAndPublishNothing) {
    struct Case {
        const char* scenario;
        LONG polls;  // successful polls before the failures
        LONG phy;
    };
    const Case cases[] = {
        {"ep0_fail=1+;phy=10", 0, 0},
        {"ep0_fail=2+;phy=10:1", 1, 10},
        {"ep0_fail=1+:31:at_once;phy=10", 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.scenario);
        start_run(c.scenario);
        run_state.ignore_ep0_errors = 1;
        capture();
        const SteadyClock::time_point started_at = SteadyClock::now();
        HANDLE thread = start_thread(status_poller);
        ASSERT_NE(thread, nullptr);
        ASSERT_TRUE(emulator::wait_received(0x00, 3, 10000));
        const double elapsed = seconds_since(started_at);
        Sleep(200);  // the third poll over, the poller pausing
        request_stop();
        EXPECT_EQ(join(thread), 0u);
        EXPECT_EQ(captured(), "");
        EXPECT_GE(elapsed, 1.8);
        EXPECT_LE(elapsed, 4.0);
        EXPECT_EQ(emulator::figures(0x00).received, 3u);
        EXPECT_EQ(run_state.status_polls, c.polls);
        EXPECT_EQ(run_state.phy_errors, c.phy);
        EXPECT_EQ(run_state.lnk_errors, 0);
        EXPECT_EQ(run_state.exit_status, EXIT_STATUS_OK);
    }
}

TEST_F(StatusPoller, FirstFailureEndsTheRunWithTheHint) {
    struct Case {
        const char* scenario;
        std::string message;
        LONG polls;
    };
    const Case cases[] = {
        {"ep0_fail=1", control_failure("GetOverlappedResult ", 31), 0},
        {"ep0_fail=1:31:at_once", control_failure("", 31), 0},
        {"ep0_fail=2:1117", control_failure("GetOverlappedResult ", 1117), 1},
        {"ep0_bytes=50", "\nDevice returned less info than expected (12 bytes of 21)\n", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.scenario);
        start_run(c.scenario);
        capture();
        HANDLE thread = start_thread(status_poller);
        ASSERT_NE(thread, nullptr);
        // Nobody else stops this run: the poller must end it itself.
        EXPECT_EQ(join(thread, 8000), 0u);
        EXPECT_EQ(captured(), c.message + hint);
        EXPECT_EQ(run_state.exit_status, EXIT_STATUS_SETUP);
        EXPECT_TRUE(is_stopping());
        EXPECT_TRUE(stop_event_signalled());
        EXPECT_EQ(run_state.status_polls, c.polls);
        EXPECT_EQ(emulator::figures(0x00).received, static_cast<uint64_t>(c.polls + 1));
    }
}

// A poll left pending at the stop is cancelled after the grace; the failure that follows still
// counts, but brings no hint.
TEST_F(StatusPoller, PendingPollCancelledAtTheStopStoresThreeWithoutHint) {
    start_run("ep0_hang=1");
    capture();
    HANDLE thread = start_thread(status_poller);
    ASSERT_NE(thread, nullptr);
    ASSERT_TRUE(emulator::wait_in_flight(0x00, 1, 5000));
    const SteadyClock::time_point stopped_at = SteadyClock::now();
    request_stop();
    EXPECT_EQ(join(thread), 0u);
    const double elapsed = seconds_since(stopped_at);
    EXPECT_EQ(captured(),
              "\nCancelling Control pipe request\n" + control_failure("GetOverlappedResult ", 995));
    EXPECT_GE(elapsed, 0.9);
    EXPECT_LE(elapsed, 2.5);
    EXPECT_EQ(run_state.exit_status, EXIT_STATUS_SETUP);
    EXPECT_EQ(run_state.status_polls, 0);
}

TEST_F(StatusPoller, PollEndingWithinTheGraceIsStillPublished) {
    start_run("ep0_us=300000;phy=42;lnk=43");
    capture();
    HANDLE thread = start_thread(status_poller);
    ASSERT_NE(thread, nullptr);
    ASSERT_TRUE(emulator::wait_in_flight(0x00, 1, 5000));
    request_stop();
    EXPECT_EQ(join(thread), 0u);
    EXPECT_EQ(captured(), "");
    EXPECT_EQ(run_state.status_polls, 1);
    EXPECT_EQ(run_state.phy_errors, 42);
    EXPECT_EQ(run_state.lnk_errors, 43);
    EXPECT_EQ(emulator::figures(0x00).received, 1u);
    EXPECT_EQ(run_state.exit_status, EXIT_STATUS_OK);
}

}  // namespace
