// await_transfer and cancel_transfer over the emulated device: a transfer that completes at
// once, one that ends before a stop, within the grace after a stop, or only when cancelled, a
// stop before the issue, a failure during the grace, and the CancelIo fallback.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "app/run_state.h"
#include "device/device_open.h"
#include "device/transfer.h"
#include "device/transfer_block.h"
#include "emulator/emulator.h"
#include "platform/platform.h"

namespace {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// One transfer's resources, as a tool thread owns them.
struct Transfer {
    Transfer() {
        event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        overlapped.hEvent = event;
    }
    ~Transfer() { CloseHandle(event); }
    HANDLE event;
    OVERLAPPED overlapped = {};
    TransferBlock block;
    unsigned char data[65536];
    DWORD bytes = 0;
};

struct Outcome {
    int result = -1;
    DWORD error = 0;
    bool stop_seen = false;
    DWORD bytes = 0;
    std::string printed;
    double seconds = 0;
};

class TransferTest : public ::testing::Test {
  protected:
    void start(const char* scenario) {
        std::string error;
        ASSERT_EQ(emulator::configure(scenario, &error), 0) << error;
        reset_run_state();
        run_state.stop_event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        device = open_device_interface(&device_interface_class, 0, GENERIC_READ | GENERIC_WRITE,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                       FILE_FLAG_OVERLAPPED, nullptr);
        ASSERT_NE(device, INVALID_HANDLE_VALUE);
    }
    void TearDown() override {
        if (device != INVALID_HANDLE_VALUE) {
            CloseHandle(device);
        }
        if (run_state.stop_event != nullptr) {
            CloseHandle(run_state.stop_event);
        }
        reset_run_state();
        emulator::configure("", nullptr);
    }

    BOOL issue(Transfer& t, BYTE endpoint) {
        fill_bulk_block(&t.block, endpoint);
        return DeviceIoControl(device, IOCTL_DATA_TRANSFER, &t.block, sizeof t.block, t.data,
                               sizeof t.data, &t.bytes, &t.overlapped);
    }
    // Issues a read and expects it to pend.
    void issue_pending_read(Transfer& t) {
        ASSERT_FALSE(issue(t, ENDPOINT_BULK_IN));
        ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
    }
    Outcome await(Transfer& t, const char* cancel_message = "Cancelling read operation\n") {
        Outcome outcome;
        testing::internal::CaptureStdout();
        const Clock::time_point begun = Clock::now();
        outcome.result = await_transfer(device, &t.overlapped, &t.bytes, cancel_message,
                                        &outcome.error, &outcome.stop_seen);
        outcome.seconds = seconds_since(begun);
        outcome.printed = testing::internal::GetCapturedStdout();
        outcome.bytes = t.bytes;
        return outcome;
    }

    HANDLE device = INVALID_HANDLE_VALUE;
};

TEST_F(TransferTest, ATransferCompletedAtOnceCarriesItsCountFromTheIssue) {
    start("at_once=1;read_mbps=0");
    Transfer t;
    t.bytes = 0;
    ASSERT_TRUE(issue(t, ENDPOINT_BULK_IN));
    EXPECT_EQ(t.bytes, 65536u);
    EXPECT_EQ(emulator::figures(0x81).completed, 1u);
    // Its result is there for a later query without any wait.
    DWORD bytes = 0;
    EXPECT_TRUE(GetOverlappedResult(device, &t.overlapped, &bytes, FALSE));
    EXPECT_EQ(bytes, 65536u);
}

TEST_F(TransferTest, APendingTransferThatEndsBeforeAStopIsAwaitedQuietly) {
    start("read_mbps=1");  // 64 KiB at 1 MiB/s: 62.5 ms
    Transfer t;
    issue_pending_read(t);
    const Outcome outcome = await(t);
    EXPECT_EQ(outcome.result, 0);
    EXPECT_EQ(outcome.bytes, 65536u);
    EXPECT_FALSE(outcome.stop_seen);
    EXPECT_EQ(outcome.printed, "");
    EXPECT_GT(outcome.seconds, 0.02);  // part of the 62.5 ms may pass before the wait starts
    EXPECT_LT(outcome.seconds, 0.9);
}

TEST_F(TransferTest, AStopWhileAControlRequestPendsLetsItEndWithinTheGrace) {
    start("ep0_us=300000");
    unsigned char request[STATUS_REQUEST_SIZE] = {};
    fill_status_block(reinterpret_cast<TransferBlock*>(request), 0);
    Transfer t;
    ASSERT_FALSE(DeviceIoControl(device, IOCTL_CONTROL_TRANSFER, request, sizeof request, request,
                                 sizeof request, &t.bytes, &t.overlapped));
    ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
    ASSERT_TRUE(emulator::wait_in_flight(0x00, 1, 5000));
    std::thread stopper([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        request_stop();
    });
    const Outcome outcome = await(t, "\nCancelling Control pipe request\n");
    stopper.join();
    EXPECT_EQ(outcome.result, 0);
    EXPECT_EQ(outcome.bytes, 59u);
    EXPECT_TRUE(outcome.stop_seen);
    EXPECT_EQ(outcome.printed, "");
    EXPECT_LT(outcome.seconds, 0.9);
    EXPECT_EQ(emulator::figures(0x00).cancelled, 0u);
}

// A transfer that hangs past the grace is announced once, cancelled, and awaited until the
// driver completed it; a second request of another thread on the same handle is left alone,
// by CancelIoEx and by the CancelIo fallback alike.
class HangTest : public TransferTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(HangTest, IsCancelledAfterTheGraceAndOnlyItself) {
    start(GetParam());
    Transfer write;
    std::thread other([&] {
        ASSERT_FALSE(issue(write, ENDPOINT_BULK_OUT));
        ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
    });
    other.join();
    Transfer t;
    issue_pending_read(t);
    ASSERT_TRUE(emulator::wait_in_flight(0x81, 1, 5000));
    request_stop();
    const Outcome outcome = await(t);
    EXPECT_EQ(outcome.result, 1);
    EXPECT_EQ(outcome.error, ERROR_OPERATION_ABORTED);
    EXPECT_TRUE(outcome.stop_seen);
    EXPECT_EQ(outcome.printed, "Cancelling read operation\n");
    EXPECT_GE(outcome.seconds, 0.9);
    EXPECT_LE(outcome.seconds, 2.0);
    // Returned only after the driver completed the request.
    const emulator::EndpointFigures in = emulator::figures(0x81);
    EXPECT_EQ(in.cancelled, 1u);
    EXPECT_EQ(in.in_flight, 0u);
    EXPECT_EQ(emulator::figures(0x01).in_flight, 1u);
    EXPECT_TRUE(CancelIoEx(device, &write.overlapped));
    DWORD bytes = 0;
    EXPECT_FALSE(GetOverlappedResult(device, &write.overlapped, &bytes, TRUE));
    EXPECT_EQ(GetLastError(), ERROR_OPERATION_ABORTED);
}

INSTANTIATE_TEST_SUITE_P(CancelIoExOrCancelIo, HangTest,
                         ::testing::Values("read_hang=1;write_hang=1",
                                           "read_hang=1;write_hang=1;no_cancelioex=1"));

TEST_F(TransferTest, AStopBeforeTheIssueStillGivesThePendingTransferItsGrace) {
    struct Case {
        const char* scenario;
        int result;
        const char* printed;
        double at_least;
        double at_most;
    };
    const Case cases[] = {
        {"read_mbps=1", 0, "", 0.02, 0.9},  // ends within the grace
        {"read_hang=1", 1, "Cancelling read operation\n", 0.9, 2.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.scenario);
        TearDown();
        start(c.scenario);
        request_stop();
        Transfer t;
        issue_pending_read(t);
        const Outcome outcome = await(t);
        EXPECT_EQ(outcome.result, c.result);
        EXPECT_TRUE(outcome.stop_seen);
        EXPECT_EQ(outcome.printed, c.printed);
        EXPECT_GE(outcome.seconds, c.at_least);
        EXPECT_LE(outcome.seconds, c.at_most);
    }
}

TEST_F(TransferTest, AFailureDuringTheGraceIsAnnouncedAndKeepsItsOwnError) {
    start("read_mbps=1;read_fail=1:121");
    request_stop();
    Transfer t;
    issue_pending_read(t);
    const Outcome outcome = await(t);
    EXPECT_EQ(outcome.result, 1);
    EXPECT_EQ(outcome.error, ERROR_SEM_TIMEOUT);
    EXPECT_TRUE(outcome.stop_seen);
    EXPECT_EQ(outcome.printed, "Cancelling read operation\n");
    EXPECT_LT(outcome.seconds, 0.9);
    EXPECT_EQ(emulator::figures(0x81).failed, 1u);
}

TEST_F(TransferTest, CancelTransferLooksCancelIoExUpAtEachCall) {
    // The scenario can hide CancelIoEx between two cancels of the same program.
    start("read_hang=1+");
    for (const char* scenario : {"read_hang=1+", "read_hang=1+;no_cancelioex=1"}) {
        SCOPED_TRACE(scenario);
        ASSERT_EQ(emulator::configure(scenario, nullptr), 0);
        HMODULE kernel = GetModuleHandleA("KERNEL32.DLL");
        ASSERT_NE(kernel, nullptr);
        EXPECT_EQ(GetProcAddress(kernel, "CancelIoEx") == nullptr,
                  std::string(scenario).find("no_cancelioex") != std::string::npos);
        Transfer t;
        issue_pending_read(t);
        cancel_transfer(device, &t.overlapped);
        DWORD bytes = 0;
        EXPECT_FALSE(GetOverlappedResult(device, &t.overlapped, &bytes, TRUE));
        EXPECT_EQ(GetLastError(), ERROR_OPERATION_ABORTED);
    }
}

}  // namespace
