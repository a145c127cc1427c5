// The stop signal: a flag and a manual-reset event used together, safe from any thread.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "app/run_state.h"

namespace {

struct RunStateTest : ::testing::Test {
    void SetUp() override { reset_run_state(); }
    void TearDown() override {
        if (run_state.stop_event != nullptr) {
            CloseHandle(run_state.stop_event);
        }
        reset_run_state();
    }
};

TEST_F(RunStateTest, StopFromManyThreadsAtOnceSetsFlagAndEventForGood) {
    run_state.stop_event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(run_state.stop_event, nullptr);
    EXPECT_FALSE(is_stopping());
    EXPECT_EQ(WaitForSingleObject(run_state.stop_event, 0), WAIT_TIMEOUT);

    std::vector<std::thread> stoppers;
    for (int i = 0; i < 8; ++i) {
        stoppers.emplace_back([] {
            for (int repeat = 0; repeat < 100; ++repeat) {
                request_stop();
            }
        });
    }
    for (std::thread& stopper : stoppers) {
        stopper.join();
    }
    EXPECT_TRUE(is_stopping());
    EXPECT_EQ(run_state.stop_flag, 1);
    // Manual reset: every later wait returns at once, again and again.
    EXPECT_EQ(WaitForSingleObject(run_state.stop_event, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(run_state.stop_event, 0), WAIT_OBJECT_0);
    EXPECT_EQ(run_state.exit_status, EXIT_STATUS_OK);
}

TEST_F(RunStateTest, StopWakesAThreadBlockedOnTheEventAndItSeesTheFlag) {
    run_state.stop_event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(run_state.stop_event, nullptr);
    bool seen_stopping = false;
    std::thread waiter([&] {
        WaitForSingleObject(run_state.stop_event, INFINITE);
        seen_stopping = is_stopping();
    });
    request_stop();
    waiter.join();
    EXPECT_TRUE(seen_stopping);
}

TEST_F(RunStateTest, StopWithoutAStopEventSetsOnlyTheFlag) {
    ASSERT_EQ(run_state.stop_event, nullptr);
    request_stop();
    request_stop();
    EXPECT_TRUE(is_stopping());
    EXPECT_EQ(run_state.exit_status, EXIT_STATUS_OK);
}

TEST_F(RunStateTest, InitialValuesAndCounterWrap) {
    EXPECT_EQ(run_state.device_handle, INVALID_HANDLE_VALUE);
    EXPECT_EQ(run_state.pattern_word0, 0x00000000u);
    EXPECT_EQ(run_state.pattern_word1, 0xFFFFFFFFu);
    run_state.bytes_read = static_cast<LONG>(0xFFFFFFF0u);
    InterlockedExchangeAdd(&run_state.bytes_read, 65536);
    EXPECT_EQ(read_counter(&run_state.bytes_read), 0x0000FFF0u);
}

}  // namespace
