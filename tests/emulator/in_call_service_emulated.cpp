// Transfers the calling thread serves inside DeviceIoControl (at_once, inline_complete): their
// results, their cancels while they wait out their link time, the rules that keep them on the
// service thread, and the result query and event of a request in flight.
#include <chrono>
#include <string>
#include <thread>

#include "emulated_device.h"

namespace {

using emulator_testing::EmulatedDevice;
using emulator_testing::Transfer;
using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

class InCallServiceTest : public EmulatedDevice {};

// What one issue saw: the call's result and error, its byte count, and the event right after
// it returned.
struct Outcome {
    BOOL returned = FALSE;
    DWORD error = 0;
    bool signalled_at_return = false;
    DWORD bytes = 0;
};

class RuleTest : public EmulatedDevice {
  protected:
    Outcome issue(Transfer& t, BYTE endpoint) {
        Outcome o;
        t.bytes = 0;
        o.returned = bulk(t, endpoint);
        o.error = o.returned ? 0 : GetLastError();
        o.signalled_at_return = WaitForSingleObject(t.event, 0) == WAIT_OBJECT_0;
        o.bytes = t.bytes;
        return o;
    }
};

TEST_F(RuleTest, AtOnceAndInlineCompletionKeepEveryRuleAsThePendingPathHasIt) {
    struct Case {
        const char* rule;
        // Through the service thread, and with inline_complete=1 (rate 0): the same, except
        // that a plain transfer is already complete when the call returns.
        DWORD final_error;  // after ERROR_IO_PENDING (0: success), or ~0u: still in flight
        DWORD bytes;
        // at_once=1: the call's own result.
        BOOL at_once_returned;
        DWORD at_once_error;
    };
    const Case cases[] = {
        {"", 0, 65536, TRUE, 0},
        {"read_short=1:100", 0, 100, TRUE, 0},
        {"read_fail=1:1117", 1117, 0, FALSE, 1117},
        {"read_hang=1", ~0u, 0, FALSE, ~0u},
    };
    for (const Case& c : cases) {
        for (const char* mode : {"", "inline_complete=1", "at_once=1"}) {
            const std::string scenario = std::string("read_mbps=0;") + mode + ";" + c.rule;
            SCOPED_TRACE(scenario);
            start(scenario.c_str());
            Transfer t;
            const bool at_once = std::string(mode) == "at_once=1";
            const bool hangs = c.final_error == ~0u;
            if (at_once && hangs) {
                // Waits inside the call until cancelled.
                std::thread canceller([this] {
                    EXPECT_TRUE(emulator::wait_in_flight(0x81, 1, 5000));
                    EXPECT_TRUE(CancelIoEx(device, nullptr));
                });
                EXPECT_FALSE(bulk(t, ENDPOINT_BULK_IN));
                EXPECT_EQ(GetLastError(), ERROR_OPERATION_ABORTED);
                canceller.join();
            } else if (at_once) {
                const Outcome o = issue(t, ENDPOINT_BULK_IN);
                EXPECT_EQ(o.returned, c.at_once_returned);
                EXPECT_EQ(o.error, c.at_once_error);
                EXPECT_TRUE(o.signalled_at_return);
                if (o.returned) {
                    EXPECT_EQ(o.bytes, c.bytes);
                }
            } else {
                const Outcome o = issue(t, ENDPOINT_BULK_IN);
                EXPECT_FALSE(o.returned);
                EXPECT_EQ(o.error, static_cast<DWORD>(ERROR_IO_PENDING));
                const bool inline_plain =
                    std::string(mode) == "inline_complete=1" && std::string(c.rule).empty();
                if (inline_plain) {
                    EXPECT_TRUE(o.signalled_at_return);
                }
                if (hangs) {
                    EXPECT_FALSE(o.signalled_at_return);
                    EXPECT_EQ(WaitForSingleObject(t.event, 50), static_cast<DWORD>(WAIT_TIMEOUT));
                    EXPECT_EQ(emulator::figures(0x81).in_flight, 1u);
                    ASSERT_TRUE(CancelIoEx(device, &t.overlapped));
                    DWORD bytes = 0;
                    EXPECT_FALSE(GetOverlappedResult(device, &t.overlapped, &bytes, TRUE));
                    EXPECT_EQ(GetLastError(), ERROR_OPERATION_ABORTED);
                } else {
                    DWORD bytes = 0;
                    const BOOL done = GetOverlappedResult(device, &t.overlapped, &bytes, TRUE);
                    EXPECT_EQ(done ? 0u : GetLastError(), c.final_error);
                    EXPECT_EQ(bytes, c.bytes);
                }
            }
            const emulator::EndpointFigures f = emulator::figures(0x81);
            EXPECT_EQ(f.received, 1u);
            EXPECT_EQ(f.completed, 1u);
            EXPECT_EQ(f.in_flight, 0u);
            CloseHandle(device);
            device = INVALID_HANDLE_VALUE;
        }
    }
}

TEST_F(InCallServiceTest, AnAtOnceTransferWaitingOutItsLinkTimeIsCancelledByOthersOnly) {
    struct Case {
        const char* name;
        void (*act)(HANDLE device, OVERLAPPED* overlapped);
        DWORD error;  // of the call; 0: it succeeded after its link time
    };
    const Case cases[] = {
        {"CancelIoEx of its OVERLAPPED", [](HANDLE d, OVERLAPPED* o) { CancelIoEx(d, o); },
         ERROR_OPERATION_ABORTED},
        {"CancelIoEx of the handle", [](HANDLE d, OVERLAPPED*) { CancelIoEx(d, nullptr); },
         ERROR_OPERATION_ABORTED},
        // CancelIo cancels the calling thread's requests, and this one is another thread's.
        {"CancelIo on another thread", [](HANDLE d, OVERLAPPED*) { CancelIo(d); }, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        start("at_once=1;write_mbps=1");  // 64 KiB: 62.5 ms
        Transfer t;
        std::thread other([&] {
            EXPECT_TRUE(emulator::wait_in_flight(0x01, 1, 5000));
            c.act(device, &t.overlapped);
        });
        const Clock::time_point begun = Clock::now();
        const BOOL done = bulk(t, ENDPOINT_BULK_OUT);
        const DWORD error = done ? 0 : GetLastError();
        const double seconds = seconds_since(begun);
        other.join();
        EXPECT_EQ(error, c.error);
        EXPECT_EQ(WaitForSingleObject(t.event, 0), WAIT_OBJECT_0);
        const emulator::EndpointFigures f = emulator::figures(0x01);
        EXPECT_EQ(f.cancelled, c.error != 0 ? 1u : 0u);
        EXPECT_EQ(f.in_flight, 0u);
        if (c.error == 0) {
            EXPECT_EQ(t.bytes, 65536u);
            EXPECT_GE(seconds, 0.06);
        }
        // The endpoint goes on serving after it.
        Transfer next;
        ASSERT_TRUE(bulk(next, ENDPOINT_BULK_OUT));
        EXPECT_EQ(next.bytes, 65536u);
        CloseHandle(device);
        device = INVALID_HANDLE_VALUE;
    }
}

TEST_F(InCallServiceTest, ClosingTheHandleEndsAnAtOnceTransferWaitingInTheCall) {
    start("at_once=1;read_mbps=1");
    Transfer t;
    std::thread closer([this] {
        EXPECT_TRUE(emulator::wait_in_flight(0x81, 1, 5000));
        EXPECT_TRUE(CloseHandle(device));
    });
    EXPECT_FALSE(bulk(t, ENDPOINT_BULK_IN));
    EXPECT_EQ(GetLastError(), ERROR_OPERATION_ABORTED);
    closer.join();
    device = INVALID_HANDLE_VALUE;
    EXPECT_EQ(emulator::open_device_handles(), 0);
}

// at_once at a finite rate: back to back on two threads, each call blocked for its link time
// on the virtual timeline, so that busy time and turnarounds account for the elapsed time.
TEST_F(InCallServiceTest, AtOnceTransfersBackToBackKeepTheLinkModel) {
    start("at_once=1;read_mbps=200;write_mbps=100");
    struct Direction {
        BYTE endpoint;
        double mbps;
        double elapsed = 0;
        unsigned failures = 0;
    };
    Direction directions[2] = {{ENDPOINT_BULK_IN, 200}, {ENDPOINT_BULK_OUT, 100}};
    auto run = [this](Direction* d) {
        Transfer t;
        const Clock::time_point begun = Clock::now();
        while (seconds_since(begun) < 2.0) {
            if (!bulk(t, d->endpoint) || t.bytes != 65536) {
                ++d->failures;
            }
        }
        d->elapsed = seconds_since(begun);
    };
    std::thread reader(run, &directions[0]);
    std::thread writer(run, &directions[1]);
    reader.join();
    writer.join();
    for (const Direction& d : directions) {
        SCOPED_TRACE(d.endpoint);
        EXPECT_EQ(d.failures, 0u);
        const emulator::EndpointFigures f = emulator::figures(d.endpoint);
        ASSERT_GT(f.succeeded, 100u);
        const double busy = static_cast<double>(f.busy_ns) / 1e9;
        EXPECT_NEAR(static_cast<double>(f.bytes_moved) / busy / 1048576.0, d.mbps, d.mbps * 0.005);
        EXPECT_EQ(f.turnaround.count, f.received - 1);
        const double accounted =
            busy + f.turnaround.mean_us * static_cast<double>(f.turnaround.count) / 1e6;
        EXPECT_NEAR(accounted, d.elapsed, 0.02 + d.elapsed * 0.01);
    }
}

// A request whose event someone else sets is still waited for by GetOverlappedResult; a
// completion's signal never lands on the next request issued with the same event.
TEST_F(InCallServiceTest, TheResultQueryWaitsForTheRequestAndTheEventFollowsTheRequest) {
    start("read_mbps=1");
    Transfer t;
    ASSERT_FALSE(bulk(t, ENDPOINT_BULK_IN));
    ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
    const Clock::time_point begun = Clock::now();
    ASSERT_TRUE(SetEvent(t.event));
    DWORD bytes = 0;
    EXPECT_TRUE(GetOverlappedResult(device, &t.overlapped, &bytes, TRUE));
    EXPECT_EQ(bytes, 65536u);
    EXPECT_GE(seconds_since(begun), 0.04);

    for (const char* mode : {"", "inline_complete=1"}) {
        const std::string scenario = std::string("read_mbps=0;read_hang=300;") + mode;
        SCOPED_TRACE(scenario);
        ASSERT_EQ(emulator::configure(scenario.c_str(), nullptr), 0);
        CloseHandle(device);
        device = CreateFileA(emulator::device_path(0).c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                             nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
        ASSERT_NE(device, INVALID_HANDLE_VALUE);
        DWORD error = 0;
        for (int i = 1; i < 300; ++i) {
            ASSERT_TRUE(bulk_to_end(t, ENDPOINT_BULK_IN, &error)) << i << ": " << error;
        }
        ASSERT_FALSE(bulk(t, ENDPOINT_BULK_IN));
        EXPECT_EQ(GetLastError(), ERROR_IO_PENDING);
        EXPECT_EQ(WaitForSingleObject(t.event, 100), static_cast<DWORD>(WAIT_TIMEOUT));
        EXPECT_FALSE(GetOverlappedResult(device, &t.overlapped, &bytes, FALSE));
        EXPECT_EQ(GetLastError(), ERROR_IO_INCOMPLETE);
        ASSERT_TRUE(CancelIoEx(device, &t.overlapped));
        EXPECT_FALSE(GetOverlappedResult(device, &t.overlapped, &bytes, TRUE));
        EXPECT_EQ(GetLastError(), ERROR_OPERATION_ABORTED);
    }
}

TEST_F(InCallServiceTest, BadDeviceAndEventHandlesAreToldApart) {
    start("read_mbps=0");
    Transfer good;
    struct Case {
        const char* name;
        HANDLE device;
        HANDLE event;
        DWORD error;
        bool refused;  // counted by the device as a refused request
    };
    const Case cases[] = {
        {"made-up device", reinterpret_cast<HANDLE>(0x1234), good.event, ERROR_INVALID_HANDLE,
         false},
        {"event as the device", good.event, good.event, ERROR_INVALID_HANDLE, false},
        {"made-up event", device, reinterpret_cast<HANDLE>(0x5678), ERROR_INVALID_PARAMETER, true},
        {"device as the event", device, device, ERROR_INVALID_PARAMETER, true},
    };
    uint64_t refused = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Transfer t;
        t.overlapped.hEvent = c.event;
        fill_bulk_block(&t.block, ENDPOINT_BULK_IN);
        SetLastError(0xdeadbeef);
        EXPECT_FALSE(DeviceIoControl(c.device, IOCTL_DATA_TRANSFER, &t.block, sizeof t.block,
                                     t.data.data(), 65536, &t.bytes, &t.overlapped));
        EXPECT_EQ(GetLastError(), c.error);
        refused += c.refused ? 1 : 0;
        EXPECT_EQ(emulator::refused_requests(), refused);
        EXPECT_EQ(emulator::figures(0x81).received, 0u);
    }
    // The device still serves a good request.
    DWORD error = 0;
    EXPECT_TRUE(bulk_to_end(good, ENDPOINT_BULK_IN, &error));
    EXPECT_EQ(emulator::figures(0x81).received, 1u);
}

}  // namespace
