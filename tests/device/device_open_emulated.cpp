// open_device_interface over the emulated device set: which device an index opens, the failures
// with their last error and their one stderr line, and nothing left behind on any path.
#include <gtest/gtest.h>

#include <string>

#include "device/device_open.h"
#include "emulator/emulator.h"
#include "platform/platform.h"
#include "portable/handles.h"
#include "portable/setup_api_control.h"

namespace {

struct Opened {
    HANDLE handle = INVALID_HANDLE_VALUE;
    DWORD error = 0;
    std::string err;
};

Opened open_index(DWORD index) {
    Opened opened;
    testing::internal::CaptureStderr();
    SetLastError(0xdeadbeef);
    opened.handle = open_device_interface(
        &device_interface_class, index, GENERIC_READ | GENERIC_WRITE,
        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    opened.error = GetLastError();
    opened.err = testing::internal::GetCapturedStderr();
    return opened;
}

class DeviceOpenTest : public ::testing::Test {
  protected:
    void TearDown() override { emulator::configure("", nullptr); }
};

TEST_F(DeviceOpenTest, IndexesOpenTheirDeviceOrFailWithTheStepsError) {
    struct Case {
        const char* scenario;
        DWORD index;
        int device;  // -1: the open fails
        DWORD error;
        bool stderr_line;
    };
    const Case cases[] = {
        {"", 0, 0, 0, false},
        {"devices=0", 0, -1, ERROR_NO_MORE_ITEMS, false},
        {"devices=2", 0, 0, 0, false},
        {"devices=2", 1, 1, 0, false},
        {"devices=2", 2, -1, ERROR_NO_MORE_ITEMS, false},
        {"devices=2", 0xFFFFFFFFu, -1, ERROR_NO_MORE_ITEMS, false},
        {"devices=2;locked=1", 1, -1, ERROR_SHARING_VIOLATION, true},
        {"devices=2;locked=1", 0, 0, 0, false},
        {"alloc_fail=1", 0, -1, ERROR_NOT_ENOUGH_MEMORY, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.scenario) + " index " + std::to_string(c.index));
        ASSERT_EQ(emulator::configure(c.scenario, nullptr), 0);
        const Opened opened = open_index(c.index);
        if (c.device >= 0) {
            ASSERT_NE(opened.handle, INVALID_HANDLE_VALUE);
            EXPECT_EQ(emulator::handle_device_index(opened.handle), c.device);
            EXPECT_EQ(emulator::open_device_handles(), 1);
            EXPECT_TRUE(CloseHandle(opened.handle));
        } else {
            EXPECT_EQ(opened.handle, INVALID_HANDLE_VALUE);
            EXPECT_EQ(opened.error, c.error);
        }
        const std::string line = "FAILED to open " + emulator::device_path(c.index) +
                                 ", error=" + std::to_string(c.error) + "\n";
        EXPECT_EQ(opened.err, c.stderr_line ? line : "");
        EXPECT_EQ(emulator::open_device_handles(), 0);
        EXPECT_EQ(standin::live_handles(standin::Kind::device_set), 0);
    }
}

// The size query may report less than the detail record's fixed part when the interface
// vanishes in between; the buffer it would give has no room for cbSize.
TEST_F(DeviceOpenTest, ADetailSizeBelowTheFixedPartFailsWithoutWritingPastTheBuffer) {
    const DWORD fixed = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
    struct Case {
        DWORD reported;
        bool opens;
        DWORD error;
    };
    const Case cases[] = {
        {1, false, ERROR_INSUFFICIENT_BUFFER},
        {fixed - 1, false, ERROR_INSUFFICIENT_BUFFER},
        {fixed, false, ERROR_INSUFFICIENT_BUFFER},  // fits cbSize, not the path
        {500, true, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reported);
        ASSERT_EQ(emulator::configure("", nullptr), 0);
        standin::report_detail_size(c.reported);
        const Opened opened = open_index(0);
        EXPECT_EQ(opened.handle != INVALID_HANDLE_VALUE, c.opens);
        if (c.opens) {
            CloseHandle(opened.handle);
        } else {
            EXPECT_EQ(opened.error, c.error);
        }
        EXPECT_EQ(opened.err, "");
        EXPECT_EQ(emulator::open_device_handles(), 0);
        EXPECT_EQ(standin::live_handles(standin::Kind::device_set), 0);
    }
}

}  // namespace
