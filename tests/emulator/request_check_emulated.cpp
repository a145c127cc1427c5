// Every request is checked against the driver's rules: a malformed one fails at once with 87
// and is never accepted, while the well-formed ones pend.
#include <string.h>

#include <functional>

#include "emulated_device.h"

namespace {

using emulator_testing::EmulatedDevice;

// Where a request's buffer is: the request's own block buffer, the data payload, another
// buffer, or none. Resolved at issue, so that a Request can be copied into a table.
enum Where { none, own, payload_buffer, other };

// One request to issue, built from the good control or data request and then spoilt.
struct Request {
    DWORD code;
    unsigned char buffer[64];
    Where in;
    DWORD in_length;
    Where out;
    DWORD out_length;
    OVERLAPPED* overlapped;
};

class RequestCheckTest : public EmulatedDevice {
  protected:
    void SetUp() override {
        start("ep0_hang=1+;read_hang=1+;write_hang=1+");
        event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        overlapped.hEvent = event;
    }
    void TearDown() override {
        CancelIoEx(device, nullptr);
        CloseHandle(event);
        EmulatedDevice::TearDown();
    }
    Request control() {
        Request r;
        r.code = IOCTL_CONTROL_TRANSFER;
        memset(r.buffer, 0, sizeof r.buffer);
        fill_status_block(reinterpret_cast<TransferBlock*>(r.buffer), 0);
        r.in = r.out = own;
        r.in_length = r.out_length = STATUS_REQUEST_SIZE;
        r.overlapped = &overlapped;
        return r;
    }
    Request data(BYTE endpoint) {
        Request r;
        r.code = IOCTL_DATA_TRANSFER;
        memset(r.buffer, 0, sizeof r.buffer);
        fill_bulk_block(reinterpret_cast<TransferBlock*>(r.buffer), endpoint);
        r.in = own;
        r.in_length = TRANSFER_BLOCK_SIZE;
        r.out = payload_buffer;
        r.out_length = sizeof payload;
        r.overlapped = &overlapped;
        return r;
    }
    void* resolve(Request& r, Where where) {
        switch (where) {
            case own:
                return r.buffer;
            case payload_buffer:
                return payload;
            case other:
                return other_buffer;
            default:
                return nullptr;
        }
    }
    DWORD issue(Request& r) {
        DWORD bytes = 0;
        SetLastError(0);
        if (DeviceIoControl(device, r.code, resolve(r, r.in), r.in_length, resolve(r, r.out),
                            r.out_length, &bytes, r.overlapped)) {
            return 0;
        }
        return GetLastError();
    }

    HANDLE event = nullptr;
    OVERLAPPED overlapped = {};
    unsigned char payload[4096] = {};
    unsigned char other_buffer[64] = {};
};

TEST_F(RequestCheckTest, MalformedRequestsAreRefusedAtOnce) {
    OVERLAPPED no_event = {};
    struct Case {
        const char* name;
        bool control;  // else a bulk read
        std::function<void(Request&)> spoil;
    };
    const Case cases[] = {
        {"request type 0x40", true, [](Request& r) { r.buffer[0] = 0x40; }},
        {"request 2", true, [](Request& r) { r.buffer[1] = 2; }},
        {"wIndex 1", true, [](Request& r) { r.buffer[4] = 1; }},
        {"wLength 20 throughout", true,
         [](Request& r) {
             r.buffer[6] = 20;
             r.buffer[34] = 20;
             r.in_length = r.out_length = 58;
         }},
        {"reserved byte", true, [](Request& r) { r.buffer[12] = 1; }},
        {"endpoint 0x81", true, [](Request& r) { r.buffer[13] = 0x81; }},
        {"driver reserved", true, [](Request& r) { r.buffer[25] = 1; }},
        {"reserved dword", true, [](Request& r) { r.buffer[26] = 1; }},
        {"data offset 0", true, [](Request& r) { r.buffer[30] = 0; }},
        {"data length 20", true, [](Request& r) { r.buffer[34] = 20; }},
        {"lengths 58", true, [](Request& r) { r.in_length = r.out_length = 58; }},
        {"out length differs", true, [](Request& r) { r.out_length = 64; }},
        {"out buffer differs", true, [](Request& r) { r.out = other; }},
        {"unknown code", true, [](Request& r) { r.code = 0x00220024; }},
        {"data code on a control block", true, [](Request& r) { r.code = IOCTL_DATA_TRANSFER; }},
        {"control code on a data block", false,
         [](Request& r) { r.code = IOCTL_CONTROL_TRANSFER; }},
        {"endpoint 0x02", false, [](Request& r) { r.buffer[13] = 0x02; }},
        {"endpoint 0x82", false, [](Request& r) { r.buffer[13] = 0x82; }},
        {"endpoint 0x00", false, [](Request& r) { r.buffer[13] = 0x00; }},
        {"first byte", false, [](Request& r) { r.buffer[0] = 1; }},
        {"last byte", false, [](Request& r) { r.buffer[37] = 1; }},
        {"in length 39", false, [](Request& r) { r.in_length = 39; }},
        {"in length 37", false, [](Request& r) { r.in_length = 37; }},
        {"no in buffer", false, [](Request& r) { r.in = none; }},
        {"no out buffer", false, [](Request& r) { r.out = none; }},
        {"out length 0", false, [](Request& r) { r.out_length = 0; }},
        {"no OVERLAPPED", false, [](Request& r) { r.overlapped = nullptr; }},
        {"OVERLAPPED without event", false, [&](Request& r) { r.overlapped = &no_event; }},
    };
    uint64_t refused = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Request r = c.control ? control() : data(ENDPOINT_BULK_IN);
        c.spoil(r);
        EXPECT_EQ(issue(r), ERROR_INVALID_PARAMETER);
        EXPECT_EQ(emulator::refused_requests(), ++refused);
    }
    for (unsigned endpoint : {0x00u, 0x01u, 0x81u}) {
        EXPECT_EQ(emulator::figures(endpoint).received, 0u);
    }
}

TEST_F(RequestCheckTest, WellFormedRequestsPendWhateverTheirSetupValueAndBufferSize) {
    struct Case {
        const char* name;
        Request request;
        unsigned endpoint;
    };
    Request start_request = control();
    start_request.buffer[2] = 1;
    Request small_read = data(ENDPOINT_BULK_IN);
    small_read.out_length = 1;
    Case cases[] = {
        {"status poll", control(), 0x00},
        {"start request", start_request, 0x00},
        {"bulk read", data(ENDPOINT_BULK_IN), 0x81},
        {"bulk write", data(ENDPOINT_BULK_OUT), 0x01},
        {"one-byte read", small_read, 0x81},
    };
    for (Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(issue(c.request), ERROR_IO_PENDING);
        EXPECT_TRUE(emulator::wait_in_flight(c.endpoint, 1, 5000));
        ASSERT_TRUE(CancelIoEx(device, &overlapped));
        DWORD bytes = 0;
        EXPECT_FALSE(GetOverlappedResult(device, &overlapped, &bytes, TRUE));
        EXPECT_EQ(GetLastError(), ERROR_OPERATION_ABORTED);
    }
    EXPECT_EQ(emulator::refused_requests(), 0u);
}

TEST_F(RequestCheckTest, AHandleOpenedWithoutOverlappedIsRefused) {
    HANDLE plain = CreateFileA(emulator::device_path(0).c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                               nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(plain, INVALID_HANDLE_VALUE);
    Request r = data(ENDPOINT_BULK_IN);
    DWORD bytes = 0;
    EXPECT_FALSE(DeviceIoControl(plain, r.code, r.buffer, r.in_length, payload, r.out_length,
                                 &bytes, r.overlapped));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    CloseHandle(plain);
}

}  // namespace
