// The bulk reader and writer against the emulated device: the data on the wire, the counting,
// the failures and the stop, for both twins.
#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <vector>

#include "stream/bulk_stream.h"
#include "support/emulated_run.h"

namespace {

using testing_support::EmulatedRun;
using testing_support::error_text;
using testing_support::seconds_since;
using testing_support::SteadyClock;

// What tells the two workers apart, as the tests see it.
struct Twin {
    const char* name;
    unsigned(__stdcall* entry)(void*);
    unsigned endpoint;
    const char* key;  // the scenario's key prefix
    volatile LONG* counter;
    const char* failed;  // "Read from device failed" or "Write to device failed"
    const char* cancel_message;
};

const Twin twins[] = {
    {"reader", bulk_reader, 0x81, "read", &run_state.bytes_read, "Read from device failed",
     "Cancelling read operation\n"},
    {"writer", bulk_writer, 0x01, "write", &run_state.bytes_written, "Write to device failed",
     "Cancelling write operation\n"},
};

std::string failure(const Twin& twin, const char* kind, DWORD code) {
    return std::string("\n") + twin.failed + " (" + kind + "error code=" + std::to_string(code) +
           ")\n" + error_text(code) + "\n";
}

using BulkStream = EmulatedRun;

TEST_F(BulkStream, WriterSendsThePatternOverTheWholeBuffer) {
    struct Case {
        DWORD word0, word1;
        unsigned char bytes[8];
    };
    const Case cases[] = {
        {0x00000000u, 0xFFFFFFFFu, {0x00, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF}},
        {1u, 256u, {0x01, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00}},
        {0x12345678u, 0x9ABCDEF0u, {0x78, 0x56, 0x34, 0x12, 0xF0, 0xDE, 0xBC, 0x9A}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("pattern " + std::to_string(c.word0) + "," + std::to_string(c.word1));
        start_run("write_mbps=0");
        emulator::record_out_buffers(emulator::OutRecord::copy);
        run_state.pattern_word0 = c.word0;
        run_state.pattern_word1 = c.word1;
        HANDLE thread = start_thread(bulk_writer);
        ASSERT_NE(thread, nullptr);
        ASSERT_TRUE(emulator::wait_received(0x01, 2, 5000));
        request_stop();
        EXPECT_EQ(join(thread), 0u);

        const emulator::EndpointFigures out = emulator::figures(0x01);
        EXPECT_EQ(out.last.ioctl, 0x0022004Bu);
        EXPECT_EQ(out.last.in_length, 38u);
        EXPECT_EQ(out.last.out_length, 65536u);
        unsigned char block[38] = {};
        block[13] = 0x01;
        EXPECT_EQ(memcmp(out.last.block, block, 38), 0);
        const std::vector<unsigned char>& sent = out.last.out.copy;
        ASSERT_EQ(sent.size(), 65536u);
        size_t mismatches = 0;
        for (size_t i = 0; i < sent.size(); ++i) {
            mismatches += sent[i] != c.bytes[i % 8];
        }
        EXPECT_EQ(mismatches, 0u);
    }
}

TEST_F(BulkStream, ReaderNamesEndpoint81) {
    start_run("read_mbps=0");
    HANDLE thread = start_thread(bulk_reader);
    ASSERT_NE(thread, nullptr);
    ASSERT_TRUE(emulator::wait_received(0x81, 2, 5000));
    request_stop();
    EXPECT_EQ(join(thread), 0u);
    const emulator::EndpointFigures in = emulator::figures(0x81);
    EXPECT_EQ(in.last.ioctl, 0x0022004Bu);
    EXPECT_EQ(in.last.in_length, 38u);
    EXPECT_EQ(in.last.out_length, 65536u);
    unsigned char block[38] = {};
    block[13] = 0x81;
    EXPECT_EQ(memcmp(in.last.block, block, 38), 0);
    EXPECT_EQ(emulator::figures(0x01).received, 0u);
    EXPECT_EQ(emulator::refused_requests(), 0u);
}

// The twin's scenario: every '@' stands for its key prefix ("read" or "write").
std::string for_twin(const Twin& twin, const std::string& rule) {
    std::string scenario;
    for (char c : rule) {
        scenario += c == '@' ? std::string(twin.key) : std::string(1, c);
    }
    return scenario;
}

// Short transfers add what the driver reported, whether they pended or completed inside the
// call, and a counter near 2^32 wraps.
TEST_F(BulkStream, CountsExactlyTheReportedBytes) {
    struct Case {
        const char* rule;
        DWORD counter_start;
        // Transfers short_from to short_to (0: and every later one) report short_bytes.
        uint64_t short_from, short_to, short_bytes;
    };
    const Case cases[] = {
        {"@_short=1:1000;@_mbps=0", 0, 1, 1, 1000},
        {"@_short=2+:1;@_mbps=0", 0, 2, 0, 1},
        {"at_once=1;@_short=1:1000;@_mbps=0", 0, 1, 1, 1000},
        {"at_once=1;@_short=3+:4096;@_mbps=0", 0, 3, 0, 4096},
        {"@_mbps=0", 0xFFFFFFF0u, 0, 0, 0},
    };
    for (const Twin& twin : twins) {
        for (const Case& c : cases) {
            const std::string scenario = for_twin(twin, c.rule);
            SCOPED_TRACE(scenario);
            start_run(scenario);
            *twin.counter = static_cast<LONG>(c.counter_start);
            capture();
            HANDLE thread = start_thread(twin.entry);
            ASSERT_NE(thread, nullptr);
            ASSERT_TRUE(emulator::wait_received(twin.endpoint, 5, 5000));
            request_stop();
            EXPECT_EQ(join(thread), 0u);
            EXPECT_EQ(captured(), "");
            const emulator::EndpointFigures figures = emulator::figures(twin.endpoint);
            EXPECT_EQ(figures.cancelled, 0u);
            EXPECT_EQ(figures.succeeded, figures.received);
            ASSERT_GE(figures.succeeded, 5u);
            uint64_t expected = 0;
            for (uint64_t n = 1; n <= figures.succeeded; ++n) {
                const bool short_one =
                    c.short_from != 0 && n >= c.short_from && (c.short_to == 0 || n <= c.short_to);
                expected += short_one ? c.short_bytes : 65536;
            }
            EXPECT_EQ(figures.bytes_moved, expected);
            EXPECT_EQ(static_cast<DWORD>(*twin.counter),
                      static_cast<DWORD>(c.counter_start + figures.bytes_moved));
            if (c.counter_start != 0) {
                EXPECT_LT(static_cast<DWORD>(*twin.counter), c.counter_start);  // wrapped
            }
            EXPECT_EQ(run_state.exit_status, EXIT_STATUS_OK);
            EXPECT_EQ(events_left(), 0);
        }
    }
}

TEST_F(BulkStream, FailedTransferEndsTheRunWithStatusTwo) {
    struct Case {
        const char* rule;
        const char* kind;
        DWORD code;
        uint64_t counted;  // transfers that succeeded before the failure
    };
    const Case cases[] = {
        {"_fail=1:31:at_once", "", 31, 0},
        {"_fail=1", "GetOverlappedResult ", 31, 0},
        {"_fail=3:1117", "GetOverlappedResult ", 1117, 2},
        {"_fail=2:21:at_once", "", 21, 1},
    };
    for (const Twin& twin : twins) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(twin.name) + " " + c.rule);
            start_run(for_twin(twin, std::string("@") + c.rule));
            capture();
            HANDLE thread = start_thread(twin.entry);
            ASSERT_NE(thread, nullptr);
            // Nobody else stops this run: the worker must end it itself.
            EXPECT_EQ(join(thread, 8000), 0u);
            EXPECT_EQ(captured(), failure(twin, c.kind, c.code));
            EXPECT_EQ(run_state.exit_status, EXIT_STATUS_TRANSFER);
            EXPECT_TRUE(is_stopping());
            EXPECT_TRUE(stop_event_signalled());
            EXPECT_EQ(static_cast<uint64_t>(static_cast<DWORD>(*twin.counter)), c.counted * 65536);
            EXPECT_EQ(emulator::figures(twin.endpoint).in_flight, 0u);
            EXPECT_EQ(events_left(), 0);
        }
    }
}

// One worker's failure ends the run; its twin winds down quietly on the stop.
TEST_F(BulkStream, TwinWindsDownQuietlyAfterTheOtherFails) {
    start_run("read_fail=3:31:at_once");
    capture();
    HANDLE writer = start_thread(bulk_writer);
    HANDLE reader = start_thread(bulk_reader);
    ASSERT_NE(writer, nullptr);
    ASSERT_NE(reader, nullptr);
    EXPECT_EQ(join(reader, 8000), 0u);
    EXPECT_EQ(join(writer, 8000), 0u);
    EXPECT_EQ(captured(), failure(twins[0], "", 31));
    EXPECT_EQ(run_state.exit_status, EXIT_STATUS_TRANSFER);
    EXPECT_EQ(static_cast<DWORD>(run_state.bytes_written),
              static_cast<DWORD>(emulator::figures(0x01).bytes_moved));
}

TEST_F(BulkStream, HungTransferIsCancelledAfterTheGraceWithoutStatus) {
    for (const Twin& twin : twins) {
        SCOPED_TRACE(twin.name);
        start_run(for_twin(twin, "@_hang=1"));
        capture();
        HANDLE thread = start_thread(twin.entry);
        ASSERT_NE(thread, nullptr);
        ASSERT_TRUE(emulator::wait_in_flight(twin.endpoint, 1, 5000));
        const SteadyClock::time_point stopped_at = SteadyClock::now();
        request_stop();
        EXPECT_EQ(join(thread), 0u);
        const double elapsed = seconds_since(stopped_at);
        EXPECT_EQ(captured(), twin.cancel_message + failure(twin, "GetOverlappedResult ", 995));
        EXPECT_GE(elapsed, 0.9);
        EXPECT_LE(elapsed, 2.5);
        EXPECT_EQ(run_state.exit_status, EXIT_STATUS_OK);
        EXPECT_EQ(*twin.counter, 0);
        EXPECT_EQ(emulator::figures(twin.endpoint).cancelled, 1u);
        EXPECT_EQ(events_left(), 0);
    }
}

// At 1 MiB/s a transfer takes about 62 ms: the one in flight at the stop ends inside the grace.
TEST_F(BulkStream, TransferEndingWithinTheGraceIsCounted) {
    for (const Twin& twin : twins) {
        SCOPED_TRACE(twin.name);
        start_run(for_twin(twin, "@_mbps=1"));
        capture();
        HANDLE thread = start_thread(twin.entry);
        ASSERT_NE(thread, nullptr);
        ASSERT_TRUE(emulator::wait_received(twin.endpoint, 2, 5000));
        ASSERT_TRUE(emulator::wait_in_flight(twin.endpoint, 1, 5000));
        request_stop();
        EXPECT_EQ(join(thread), 0u);
        EXPECT_EQ(captured(), "");
        const emulator::EndpointFigures figures = emulator::figures(twin.endpoint);
        EXPECT_EQ(figures.cancelled, 0u);
        EXPECT_EQ(figures.succeeded, figures.received);
        EXPECT_EQ(static_cast<uint64_t>(static_cast<DWORD>(*twin.counter)), figures.bytes_moved);
        EXPECT_EQ(figures.bytes_moved, 65536u * figures.received);
        EXPECT_EQ(run_state.exit_status, EXIT_STATUS_OK);
    }
}

// Started after a stop whose event was never signalled: nothing goes out, and the worker does
// not request the stop again (the event would be signalled).
TEST_F(BulkStream, WorkerStartedAfterAStopSendsNothing) {
    for (const Twin& twin : twins) {
        SCOPED_TRACE(twin.name);
        start_run("");
        InterlockedExchange(&run_state.stop_flag, 1);
        capture();
        HANDLE thread = start_thread(twin.entry);
        ASSERT_NE(thread, nullptr);
        EXPECT_EQ(join(thread, 5000), 0u);
        EXPECT_EQ(captured(), "");
        EXPECT_EQ(emulator::figures(twin.endpoint).received, 0u);
        EXPECT_EQ(emulator::refused_requests(), 0u);
        EXPECT_FALSE(stop_event_signalled());
        EXPECT_EQ(run_state.exit_status, EXIT_STATUS_OK);
        EXPECT_EQ(events_left(), 0);
    }
}

TEST_F(BulkStream, SetUpFailuresEndTheRunWithStatusThree) {
    struct Case {
        standin::Fault fault;
        unsigned nth;
        const char* message;
    };
    const Case cases[] = {
        {standin::Fault::event_creation, 1, "\nERROR: failed to create Event\n"},
        {standin::Fault::allocation, 1, "\nERROR: Insufficient memory\n"},  // data buffer
        {standin::Fault::allocation, 2, "\nERROR: Insufficient memory\n"},  // block
    };
    for (const Twin& twin : twins) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(twin.name) + " " + c.message + " nth " +
                         std::to_string(c.nth));
            start_run("");
            standin::arm_fault(c.fault, c.nth);
            capture();
            HANDLE thread = start_thread(twin.entry);
            ASSERT_NE(thread, nullptr);
            EXPECT_EQ(join(thread, 5000), 0u);
            EXPECT_EQ(captured(), c.message);
            EXPECT_EQ(run_state.exit_status, EXIT_STATUS_SETUP);
            EXPECT_TRUE(is_stopping());
            EXPECT_TRUE(stop_event_signalled());
            EXPECT_EQ(emulator::figures(twin.endpoint).received, 0u);
            EXPECT_EQ(events_left(), 0);
        }
    }
}

// Both directions at the modelled link rate for a few seconds: every byte the device moved is
// counted, and nothing else.
TEST_F(BulkStream, BothWorkersCountWhatTheDeviceMoved) {
    start_run("");
    capture();
    HANDLE writer = start_thread(bulk_writer);
    HANDLE reader = start_thread(bulk_reader);
    ASSERT_NE(writer, nullptr);
    ASSERT_NE(reader, nullptr);
    Sleep(3000);
    EXPECT_FALSE(is_stopping());
    request_stop();
    EXPECT_EQ(join(reader), 0u);
    EXPECT_EQ(join(writer), 0u);
    EXPECT_EQ(captured(), "");
    const emulator::EndpointFigures in = emulator::figures(0x81);
    const emulator::EndpointFigures out = emulator::figures(0x01);
    EXPECT_GT(in.bytes_moved, 16u * 65536u);
    EXPECT_GT(out.bytes_moved, 16u * 65536u);
    EXPECT_EQ(static_cast<DWORD>(run_state.bytes_read), static_cast<DWORD>(in.bytes_moved));
    EXPECT_EQ(static_cast<DWORD>(run_state.bytes_written), static_cast<DWORD>(out.bytes_moved));
    EXPECT_EQ(in.cancelled + out.cancelled, 0u);
    EXPECT_EQ(in.in_flight + out.in_flight, 0u);
    EXPECT_EQ(run_state.exit_status, EXIT_STATUS_OK);
}

}  // namespace
