// await_transfer, cancel_transfer, system_error_text and open_device_interface against the real
// platform: overlapped reads of a named pipe stand in for a device's transfers.
#include <gtest/gtest.h>

#include <stdio.h>

#include <chrono>
#include <string>
#include <thread>

#include "app/run_state.h"
#include "device/device_open.h"
#include "device/error_text.h"
#include "device/transfer.h"
#include "platform/platform.h"

namespace {

using Clock = std::chrono::steady_clock;

class PipeTransferTest : public ::testing::Test {
  protected:
    void SetUp() override {
        reset_run_state();
        run_state.stop_event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        char name[96];
        snprintf(name, sizeof name, "\\\\.\\pipe\\corvantel-test-%lu-%p",
                 (unsigned long)GetCurrentProcessId(), (void*)this);
        server = CreateNamedPipeA(name, PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                                  PIPE_TYPE_BYTE | PIPE_WAIT, 1, 4096, 4096, 0, nullptr);
        ASSERT_NE(server, INVALID_HANDLE_VALUE);
        client =
            CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(client, INVALID_HANDLE_VALUE);
        event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        overlapped.hEvent = event;
    }
    void TearDown() override {
        CloseHandle(client);
        CloseHandle(server);
        CloseHandle(event);
        CloseHandle(run_state.stop_event);
        reset_run_state();
    }
    // A read of the pipe that must pend.
    void read_pending() {
        ASSERT_FALSE(ReadFile(server, buffer, sizeof buffer, &bytes, &overlapped));
        ASSERT_EQ(GetLastError(), (DWORD)ERROR_IO_PENDING);
    }

    HANDLE server = INVALID_HANDLE_VALUE;
    HANDLE client = INVALID_HANDLE_VALUE;
    HANDLE event = nullptr;
    OVERLAPPED overlapped = {};
    char buffer[64];
    DWORD bytes = 0;
};

TEST_F(PipeTransferTest, APendingReadSatisfiedByTheOtherEndIsAwaitedQuietly) {
    read_pending();
    std::thread writer([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        DWORD written = 0;
        WriteFile(client, "hello", 5, &written, nullptr);
    });
    DWORD error = 0;
    bool stop_seen = true;
    testing::internal::CaptureStdout();
    const int result =
        await_transfer(server, &overlapped, &bytes, "cancelled\n", &error, &stop_seen);
    const std::string printed = testing::internal::GetCapturedStdout();
    writer.join();
    EXPECT_EQ(result, 0);
    EXPECT_EQ(bytes, 5u);
    EXPECT_FALSE(stop_seen);
    EXPECT_EQ(printed, "");
}

TEST_F(PipeTransferTest, AReadThatNeverEndsIsCancelledAfterTheGrace) {
    read_pending();
    request_stop();
    DWORD error = 0;
    bool stop_seen = false;
    testing::internal::CaptureStdout();
    const Clock::time_point begun = Clock::now();
    const int result =
        await_transfer(server, &overlapped, &bytes, "cancelled\n", &error, &stop_seen);
    const double seconds = std::chrono::duration<double>(Clock::now() - begun).count();
    const std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_EQ(result, 1);
    EXPECT_EQ(error, (DWORD)ERROR_OPERATION_ABORTED);
    EXPECT_TRUE(stop_seen);
    EXPECT_EQ(printed, "cancelled\n");
    EXPECT_GE(seconds, 0.9);
    EXPECT_LE(seconds, 2.0);
}

TEST(ErrorTextWindowsTest, AKnownCodeHasTheSystemsTextAndAnUnknownOneNone) {
    char* text = system_error_text(ERROR_OPERATION_ABORTED);
    ASSERT_NE(text, nullptr);
    const std::string known = text;
    release_error_text(text);
    EXPECT_GT(known.size(), 2u);
    EXPECT_EQ(known.substr(known.size() - 2), "\r\n");
    EXPECT_EQ(system_error_text(0x2000FFFFu), nullptr);
}

TEST(DeviceOpenWindowsTest, NoDeviceOfTheClassIsPresent) {
    testing::internal::CaptureStderr();
    SetLastError(0xdeadbeef);
    const HANDLE device = open_device_interface(
        &device_interface_class, 0, GENERIC_READ | GENERIC_WRITE,
        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    const DWORD error = GetLastError();
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(device, INVALID_HANDLE_VALUE);
    EXPECT_EQ(error, (DWORD)ERROR_NO_MORE_ITEMS);
}

}  // namespace
