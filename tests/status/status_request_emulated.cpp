// The status request against the emulated device: what goes out, the reply-length rule, the
// decoding, the messages that ignore_ep0_errors holds back, and the stop's grace and cancel.
#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <thread>

#include "status/status_request.h"
#include "support/emulated_run.h"

namespace {

using testing_support::EmulatedRun;
using testing_support::error_text;
using testing_support::seconds_since;
using testing_support::SteadyClock;

const unsigned long long sentinel64 = 0xA5A5A5A5A5A5A5A5ull;
const DWORD sentinel32 = 0x5A5A5A5Au;

const std::string cancel_text = "\nCancelling Control pipe request\n";

std::string refused_message(DWORD code) {
    return "\nControl pipe DeviceIoControl failed (error code=" + std::to_string(code) + ")\n" +
           error_text(code) + "\n";
}
std::string pending_failure_message(DWORD code) {
    return "\nControl pipe DeviceIoControl failed (GetOverlappedResult error code=" +
           std::to_string(code) + ")\n" + error_text(code) + "\n";
}
std::string length_message(unsigned data_bytes) {
    return "\nDevice returned less info than expected (" + std::to_string(data_bytes) +
           " bytes of 21)\n";
}

struct Outputs {
    unsigned long long phy = sentinel64;
    unsigned long long lnk = sentinel64;
    DWORD aux_word = sentinel32;
    DWORD aux_byte = sentinel32;
    int call(int start) {
        return query_status(run_state.device_handle, start, &phy, &lnk, &aux_word, &aux_byte);
    }
    void expect_untouched() const {
        EXPECT_EQ(phy, sentinel64);
        EXPECT_EQ(lnk, sentinel64);
        EXPECT_EQ(aux_word, sentinel32);
        EXPECT_EQ(aux_byte, sentinel32);
    }
};

using StatusRequest = EmulatedRun;

TEST_F(StatusRequest, SendsVendorRequestOneWithWValueFromStart) {
    struct Case {
        int start;
        unsigned wvalue;
    };
    const Case cases[] = {{0, 0}, {1, 1}, {7, 1}, {-1, 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE("start " + std::to_string(c.start));
        start_run("");
        Outputs out;
        ASSERT_EQ(out.call(c.start), 0);
        const emulator::EndpointFigures ep0 = emulator::figures(0x00);
        ASSERT_EQ(ep0.received, 1u);
        EXPECT_EQ(ep0.last.ioctl, 0x00220020u);
        EXPECT_EQ(ep0.last.in_length, 59u);
        EXPECT_EQ(ep0.last.out_length, 59u);
        ASSERT_EQ(ep0.last.block_bytes, 38u);
        unsigned char expected[38] = {
            0xC0, 0x01, static_cast<unsigned char>(c.wvalue), 0, 0, 0, 0x15, 0, 0x1E, 0, 0, 0};
        expected[30] = 0x26;
        expected[34] = 0x15;
        EXPECT_EQ(memcmp(ep0.last.block, expected, 38), 0);
        // The emulated device echoes the low byte of wValue as the aux byte.
        EXPECT_EQ(out.aux_byte, c.wvalue);
        EXPECT_EQ(events_left(), 0);
    }
}

TEST_F(StatusRequest, DecodesTheReplyLittleEndian) {
    start_run("phy=0x0807060504030201;lnk=0xF0E0D0C0B0A09080");
    unsigned char reply[21];
    emulator::status_reply(1, 0, reply);
    const unsigned char phy_bytes[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    ASSERT_EQ(memcmp(reply, phy_bytes, 8), 0) << "the device does not send what this test means";

    Outputs out;
    ASSERT_EQ(out.call(0), 0);
    EXPECT_EQ(out.phy, 0x0807060504030201ull);
    EXPECT_EQ(out.lnk, 0xF0E0D0C0B0A09080ull);
    // The emulated device answers its request number as the aux word: this was the first.
    EXPECT_EQ(out.aux_word, 1u);
    EXPECT_EQ(out.aux_byte, 0u);
}

TEST_F(StatusRequest, ReplyLengthRule) {
    struct Case {
        unsigned reported;
        int result;
        std::string message;
    };
    const Case cases[] = {
        {59, 0, ""},
        {58, 1, length_message(20)},
        {39, 1, length_message(1)},
        {38, 1, length_message(0)},
        {0, 1, length_message(0)},
    };
    for (const Case& c : cases) {
        for (LONG ignore = 0; ignore <= 1; ++ignore) {
            SCOPED_TRACE("ep0_bytes=" + std::to_string(c.reported) + " ignore " +
                         std::to_string(ignore));
            start_run("phy=11;lnk=22;ep0_bytes=" + std::to_string(c.reported));
            run_state.ignore_ep0_errors = ignore;
            Outputs out;
            capture();
            EXPECT_EQ(out.call(0), c.result);
            EXPECT_EQ(captured(), c.message);
            if (c.result == 0) {
                EXPECT_EQ(out.phy, 11u);
                EXPECT_EQ(out.lnk, 22u);
            } else {
                out.expect_untouched();
            }
            EXPECT_EQ(events_left(), 0);
        }
    }
}

TEST_F(StatusRequest, WritesOnlyTheOutputsAskedFor) {
    start_run("phy=3;lnk=4");
    for (int mask = 0; mask < 16; ++mask) {
        SCOPED_TRACE("outputs mask " + std::to_string(mask));
        Outputs out;
        ASSERT_EQ(
            query_status(run_state.device_handle, 1, (mask & 1) ? &out.phy : nullptr,
                         (mask & 2) ? &out.lnk : nullptr, (mask & 4) ? &out.aux_word : nullptr,
                         (mask & 8) ? &out.aux_byte : nullptr),
            0);
        EXPECT_EQ(out.phy, (mask & 1) ? 3u : sentinel64);
        EXPECT_EQ(out.lnk, (mask & 2) ? 4u : sentinel64);
        EXPECT_EQ(out.aux_word, (mask & 4) ? static_cast<DWORD>(mask + 1) : sentinel32);
        EXPECT_EQ(out.aux_byte, (mask & 8) ? 1u : sentinel32);
    }
}

TEST_F(StatusRequest, DriverFailuresAndWhatIgnoringHoldsBack) {
    struct Case {
        const char* scenario;
        LONG ignore;
        std::string message;
    };
    const Case cases[] = {
        {"ep0_fail=1:31:at_once", 0, refused_message(31)},
        {"ep0_fail=1:31:at_once", 1, ""},
        {"ep0_fail=1:1167:at_once", 0, refused_message(1167)},
        {"ep0_fail=1", 0, pending_failure_message(31)},
        {"ep0_fail=1", 1, ""},
        {"ep0_fail=1:121", 0, pending_failure_message(121)},
        {"ep0_fail=1:121", 1, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.scenario) + " ignore " + std::to_string(c.ignore));
        start_run(c.scenario);
        run_state.ignore_ep0_errors = c.ignore;
        Outputs out;
        capture();
        EXPECT_EQ(out.call(0), 1);
        EXPECT_EQ(captured(), c.message);
        out.expect_untouched();
        EXPECT_EQ(emulator::figures(0x00).in_flight, 0u);
        EXPECT_EQ(events_left(), 0);
        EXPECT_FALSE(is_stopping());
        EXPECT_EQ(run_state.exit_status, EXIT_STATUS_OK);
    }
}

// A stop already requested: the request still goes out, its first wait ends at once, and a
// failure within the grace is announced, cancelled and printed even while failures are ignored.
TEST_F(StatusRequest, FailureAfterAStopIsPrintedEvenWhenIgnored) {
    for (LONG ignore = 0; ignore <= 1; ++ignore) {
        SCOPED_TRACE("ignore " + std::to_string(ignore));
        start_run("ep0_fail=1");
        run_state.ignore_ep0_errors = ignore;
        request_stop();
        Outputs out;
        capture();
        EXPECT_EQ(out.call(0), 1);
        EXPECT_EQ(captured(), cancel_text + pending_failure_message(31));
        EXPECT_EQ(emulator::figures(0x00).received, 1u);
        out.expect_untouched();
        EXPECT_EQ(events_left(), 0);
    }
}

// Requests the stop once the request is in flight on EP0.
class StopWhilePending {
  public:
    StopWhilePending()
        : thread_([this] {
              pending_ = emulator::wait_in_flight(0x00, 1, 10000);
              stopped_at_ = SteadyClock::now();
              request_stop();
          }) {}
    ~StopWhilePending() {
        if (thread_.joinable()) {
            thread_.join();
        }
    }
    // Joins the stopper; true when the request was seen in flight before the stop.
    bool finish() {
        thread_.join();
        return pending_;
    }
    SteadyClock::time_point stopped_at() const { return stopped_at_; }

  private:
    bool pending_ = false;
    SteadyClock::time_point stopped_at_;
    std::thread thread_;
};

TEST_F(StatusRequest, RequestEndingWithinTheGraceSucceedsWithoutCancel) {
    start_run("ep0_us=300000;phy=9;lnk=10");
    Outputs out;
    capture();
    StopWhilePending stopper;
    const int result = out.call(0);
    const std::string printed = captured();
    ASSERT_TRUE(stopper.finish());
    EXPECT_EQ(result, 0);
    EXPECT_EQ(printed, "");
    EXPECT_EQ(out.phy, 9u);
    EXPECT_EQ(out.lnk, 10u);
    EXPECT_EQ(emulator::figures(0x00).cancelled, 0u);
}

TEST_F(StatusRequest, HungRequestIsCancelledAfterTheGrace) {
    for (LONG ignore = 0; ignore <= 1; ++ignore) {
        SCOPED_TRACE("ignore " + std::to_string(ignore));
        start_run("ep0_hang=1");
        run_state.ignore_ep0_errors = ignore;
        Outputs out;
        capture();
        StopWhilePending stopper;
        const int result = out.call(0);
        const SteadyClock::time_point returned_at = SteadyClock::now();
        const std::string printed = captured();
        ASSERT_TRUE(stopper.finish());
        const double elapsed =
            std::chrono::duration<double>(returned_at - stopper.stopped_at()).count();
        EXPECT_EQ(result, 1);
        EXPECT_EQ(printed, cancel_text + pending_failure_message(995));
        EXPECT_GE(elapsed, 0.9);
        EXPECT_LE(elapsed, 2.0);
        EXPECT_EQ(emulator::figures(0x00).cancelled, 1u);
        EXPECT_EQ(emulator::figures(0x00).in_flight, 0u);
        out.expect_untouched();
        EXPECT_EQ(events_left(), 0);
    }
}

TEST_F(StatusRequest, ResourceFailuresPrintTheirMessageAndSendNothing) {
    struct Case {
        standin::Fault fault;
        const char* message;
    };
    const Case cases[] = {
        {standin::Fault::event_creation, "\nERROR: Can't create event\n"},
        {standin::Fault::allocation, "\nERROR: Insufficient memory\n"},
    };
    for (const Case& c : cases) {
        for (LONG ignore = 0; ignore <= 1; ++ignore) {
            SCOPED_TRACE(std::string(c.message) + " ignore " + std::to_string(ignore));
            start_run("");
            run_state.ignore_ep0_errors = ignore;
            standin::arm_fault(c.fault, 1);
            Outputs out;
            capture();
            EXPECT_EQ(out.call(1), 1);
            EXPECT_EQ(captured(), c.message);
            out.expect_untouched();
            EXPECT_EQ(emulator::figures(0x00).received, 0u);
            EXPECT_EQ(emulator::refused_requests(), 0u);
            EXPECT_EQ(events_left(), 0);
        }
    }
}

}  // namespace
