// A device opened on the emulated device for the emulator's own tests, with the resources of
// one transfer.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "device/device_open.h"
#include "device/transfer_block.h"
#include "emulator/emulator.h"
#include "platform/platform.h"

namespace emulator_testing {

struct Transfer {
    Transfer() : data(65536) {
        event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        overlapped.hEvent = event;
    }
    ~Transfer() { CloseHandle(event); }
    Transfer(const Transfer&) = delete;
    Transfer& operator=(const Transfer&) = delete;
    HANDLE event;
    OVERLAPPED overlapped = {};
    TransferBlock block;
    std::vector<unsigned char> data;
    DWORD bytes = 0;
};

class EmulatedDevice : public ::testing::Test {
  protected:
    void start(const char* scenario, DWORD flags = FILE_FLAG_OVERLAPPED) {
        std::string error;
        ASSERT_EQ(emulator::configure(scenario, &error), 0) << error;
        device =
            CreateFileA(emulator::device_path(0).c_str(), GENERIC_READ | GENERIC_WRITE,
                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, flags, nullptr);
        ASSERT_NE(device, INVALID_HANDLE_VALUE);
    }
    void TearDown() override {
        if (device != INVALID_HANDLE_VALUE) {
            CloseHandle(device);
        }
        emulator::configure("", nullptr);
    }
    BOOL bulk(Transfer& t, BYTE endpoint) {
        fill_bulk_block(&t.block, endpoint);
        return DeviceIoControl(device, IOCTL_DATA_TRANSFER, &t.block, sizeof t.block, t.data.data(),
                               static_cast<DWORD>(t.data.size()), &t.bytes, &t.overlapped);
    }
    // Issues and waits for the end; returns the result of GetOverlappedResult (or the issue).
    BOOL bulk_to_end(Transfer& t, BYTE endpoint, DWORD* error) {
        *error = 0;
        if (bulk(t, endpoint)) {
            return TRUE;
        }
        *error = GetLastError();
        if (*error != ERROR_IO_PENDING) {
            return FALSE;
        }
        const BOOL done = GetOverlappedResult(device, &t.overlapped, &t.bytes, TRUE);
        *error = done ? 0 : GetLastError();
        return done;
    }

    HANDLE device = INVALID_HANDLE_VALUE;
};

}  // namespace emulator_testing
