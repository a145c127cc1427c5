// What the emulated device answers: the status reply and its counts, short and failed
// transfers, the result query while in flight, cancels by name and by handle close, the
// IN fill and the OUT record, and the trace lines.
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <thread>

#include "emulated_device.h"

namespace {

using emulator_testing::EmulatedDevice;
using emulator_testing::Transfer;

uint64_t le64(const unsigned char* at) {
    uint64_t value = 0;
    for (int i = 7; i >= 0; --i) {
        value = value << 8 | at[i];
    }
    return value;
}

class DeviceBehaviourTest : public EmulatedDevice {
  protected:
    // A status request to its end; returns the error (0) and the reply bytes.
    DWORD status(int start_request, unsigned char request[STATUS_REQUEST_SIZE], DWORD* bytes) {
        memset(request, 0xEE, STATUS_REQUEST_SIZE);
        fill_status_block(reinterpret_cast<TransferBlock*>(request), start_request);
        Transfer t;
        if (DeviceIoControl(device, IOCTL_CONTROL_TRANSFER, request, STATUS_REQUEST_SIZE, request,
                            STATUS_REQUEST_SIZE, bytes, &t.overlapped)) {
            return 0;
        }
        if (GetLastError() != ERROR_IO_PENDING) {
            return GetLastError();
        }
        return GetOverlappedResult(device, &t.overlapped, bytes, TRUE) ? 0 : GetLastError();
    }
};

TEST_F(DeviceBehaviourTest, StatusRepliesCountOnFromTheirStartAndReportTheirByteCount) {
    start("phy=0x0807060504030201:2;lnk=0xFFFFFFFFFFFFFFFF:1;ep0_bytes=59");
    unsigned char request[STATUS_REQUEST_SIZE];
    for (uint64_t n = 1; n <= 3; ++n) {
        SCOPED_TRACE(n);
        DWORD bytes = 0;
        ASSERT_EQ(status(n == 1, request, &bytes), 0u);
        EXPECT_EQ(bytes, 59u);
        EXPECT_EQ(le64(request + 38), 0x0807060504030201ull + 2 * (n - 1));
        EXPECT_EQ(le64(request + 46), n - 2);    // wraps past 2^64
        EXPECT_EQ(request[54], n);               // aux word: the request number
        EXPECT_EQ(request[58], n == 1 ? 1 : 0);  // aux byte: wValue
        EXPECT_EQ(emulator::figures(0x00).last.block[2], n == 1 ? 1 : 0);
    }
    // Fewer bytes reported: only those are written.
    ASSERT_EQ(emulator::configure("ep0_bytes=40;phy=0x1111", nullptr), 0);
    DWORD bytes = 0;
    ASSERT_EQ(status(0, request, &bytes), 0u);
    EXPECT_EQ(bytes, 40u);
    EXPECT_EQ(request[38], 0x11);
    EXPECT_EQ(request[39], 0x11);
    EXPECT_EQ(request[40], 0xEE);
}

TEST_F(DeviceBehaviourTest, RulesHitTheirNumberedRequests) {
    struct Case {
        const char* scenario;
        BYTE endpoint;
        DWORD errors[3];  // of requests 1..3; ERROR_IO_PENDING marks a failure after pending
        DWORD bytes[3];
    };
    const Case cases[] = {
        {"read_fail=2", 0x81, {0, 31, 0}, {65536, 0, 65536}},
        {"write_fail=2+:1117:at_once", 0x01, {0, 1117, 1117}, {65536, 0, 0}},
        {"read_short=1+:1000", 0x81, {0, 0, 0}, {1000, 1000, 1000}},
        {"write_short=3:0", 0x01, {0, 0, 0}, {65536, 65536, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.scenario);
        TearDown();
        start((std::string(c.scenario) + ";read_mbps=0;write_mbps=0").c_str());
        for (int i = 0; i < 3; ++i) {
            SCOPED_TRACE(i + 1);
            Transfer t;
            DWORD error = 0;
            bulk_to_end(t, c.endpoint, &error);
            EXPECT_EQ(error, c.errors[i]);
            if (error == 0) {
                EXPECT_EQ(t.bytes, c.bytes[i]);
            }
        }
        const emulator::EndpointFigures f = emulator::figures(c.endpoint);
        EXPECT_EQ(f.received, 3u);
        EXPECT_EQ(f.completed, 3u);
        EXPECT_EQ(f.bytes_moved, uint64_t(c.bytes[0]) + c.bytes[1] + c.bytes[2]);
    }
}

TEST_F(DeviceBehaviourTest, InFlightQueriesCancelsAndClosingTheHandle) {
    start("read_hang=1+;write_hang=1+");
    Transfer read, write;
    ASSERT_FALSE(bulk(read, ENDPOINT_BULK_IN));
    ASSERT_FALSE(bulk(write, ENDPOINT_BULK_OUT));
    ASSERT_TRUE(emulator::wait_in_flight(0x81, 1, 5000));
    // The event was reset at the issue and the request is incomplete.
    EXPECT_EQ(WaitForSingleObject(read.event, 0), WAIT_TIMEOUT);
    DWORD bytes = 0;
    EXPECT_FALSE(GetOverlappedResult(device, &read.overlapped, &bytes, FALSE));
    EXPECT_EQ(GetLastError(), ERROR_IO_INCOMPLETE);
    // A cancel names one request; an unknown one is not found.
    OVERLAPPED stranger = {};
    EXPECT_FALSE(CancelIoEx(device, &stranger));
    EXPECT_EQ(GetLastError(), ERROR_NOT_FOUND);
    EXPECT_TRUE(CancelIoEx(device, &read.overlapped));
    EXPECT_FALSE(GetOverlappedResult(device, &read.overlapped, &bytes, TRUE));
    EXPECT_EQ(GetLastError(), ERROR_OPERATION_ABORTED);
    EXPECT_EQ(emulator::figures(0x01).in_flight, 1u);
    // CancelIo from another thread leaves this thread's request alone.
    std::thread([this] { EXPECT_TRUE(CancelIo(device)); }).join();
    EXPECT_EQ(emulator::figures(0x01).in_flight, 1u);
    // Closing the handle completes the rest as cancelled.
    ASSERT_TRUE(CloseHandle(device));
    device = INVALID_HANDLE_VALUE;
    EXPECT_EQ(WaitForSingleObject(write.event, 5000), WAIT_OBJECT_0);
    EXPECT_FALSE(GetOverlappedResult(nullptr, &write.overlapped, &bytes, TRUE));
    EXPECT_EQ(GetLastError(), ERROR_OPERATION_ABORTED);
    EXPECT_EQ(emulator::open_device_handles(), 0);
}

TEST_F(DeviceBehaviourTest, TheTraceRecordsRequestsCancelsAndCompletions) {
    char path[] = "/tmp/corvantel-trace-XXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    close(fd);
    start((std::string("read_mbps=0;write_mbps=0;write_hang=2;trace=") + path).c_str());
    Transfer write;
    for (int i = 0; i < 4; ++i) {
        write.data[2 * i] = 0x01;  // an 8-byte pattern, repeated over the buffer
    }
    for (size_t i = 8; i < write.data.size(); ++i) {
        write.data[i] = write.data[i - 8];
    }
    DWORD error = 0;
    ASSERT_TRUE(bulk_to_end(write, ENDPOINT_BULK_OUT, &error));
    write.data[65535] = 0x7F;  // no longer uniform
    ASSERT_FALSE(bulk(write, ENDPOINT_BULK_OUT));
    ASSERT_TRUE(CancelIoEx(device, &write.overlapped));
    DWORD bytes = 0;
    EXPECT_FALSE(GetOverlappedResult(device, &write.overlapped, &bytes, TRUE));

    const std::vector<std::string> lines = emulator::trace_lines();
    ASSERT_EQ(lines.size(), 5u);
    const std::string block =
        "block=00000000000000000000000000" + std::string("01") + std::string(48, '0');
    const std::string data = "data=01000100010001000100010001000100";
    const std::string expected[] = {
        " request ioctl=0x0022004B ep=0x01 in=38 out=65536 " + block + " " + data + " uniform=1",
        " done ep=0x01 request=1 result=0 bytes=65536",
        " request ioctl=0x0022004B ep=0x01 in=38 out=65536 " + block + " " + data + " uniform=0",
        " cancel ep=0x01 request=2",
        " done ep=0x01 request=2 result=995 bytes=0",
    };
    std::ifstream file(path);
    for (size_t i = 0; i < lines.size(); ++i) {
        SCOPED_TRACE(i);
        const size_t blank = lines[i].find(' ');
        ASSERT_NE(blank, std::string::npos);
        EXPECT_EQ(lines[i].find_first_not_of("0123456789"), blank);  // T, milliseconds
        EXPECT_EQ(lines[i].substr(blank), expected[i]);
        std::string written;
        std::getline(file, written);
        EXPECT_EQ(written, lines[i]);
    }
    emulator::configure("", nullptr);
    remove(path);
}

TEST_F(DeviceBehaviourTest, OutBuffersAreRecordedAsAskedAndInBuffersFilled) {
    start("read_mbps=0;write_mbps=0");
    emulator::record_out_buffers(emulator::OutRecord::copy);
    Transfer t;
    for (size_t i = 0; i < t.data.size(); ++i) {
        t.data[i] = static_cast<unsigned char>(i % 8 < 4 ? 0x00 : 0xFF);
    }
    DWORD error = 0;
    ASSERT_TRUE(bulk_to_end(t, ENDPOINT_BULK_OUT, &error));
    const emulator::OutBufferRecord out = emulator::figures(0x01).last.out;
    EXPECT_TRUE(out.present);
    EXPECT_EQ(out.first_count, 16u);
    EXPECT_TRUE(out.scanned);
    EXPECT_TRUE(out.uniform);
    EXPECT_EQ(out.copy, t.data);

    Transfer in;
    memset(in.data.data(), 0xEE, in.data.size());
    ASSERT_TRUE(bulk_to_end(in, ENDPOINT_BULK_IN, &error));
    EXPECT_NE(in.data[65535], 0xEE);  // the first transfer into a buffer fills all of it
    EXPECT_FALSE(emulator::figures(0x81).last.out.present);
}

}  // namespace
