// The test run's start-up and shutdown through the real program, one failing step at a time:
// no terminal, so no key is ever pending and each run ends by its failure alone. The
// emulator's trace shows which requests reached the device, and its exit line what was left
// open: every thread joined and its handle closed, the device closed, the stop event alone
// still open.
#include <gtest/gtest.h>

#include <errno.h>

#include <regex>
#include <string>
#include <vector>

#include "e2e/emulator_trace.h"
#include "support/emulated_run.h"
#include "support/process.h"

namespace {

using testing_support::LeftOpen;
using testing_support::ProcessResult;
using testing_support::TraceFile;

const char banner[] = "Corvantel version. 1.2\n";
const char greeting[] = "\nPress ESC for exit\n";

std::string thread_start_failure() {
    return "\nERROR: _beginthreadex failed, error code=" + std::to_string(EAGAIN) + "\n";
}

std::string control_failure(DWORD code, bool at_once) {
    return std::string("\nControl pipe DeviceIoControl failed (") +
           (at_once ? "error code=" : "GetOverlappedResult error code=") + std::to_string(code) +
           ")\n" + testing_support::error_text(code) + "\n";
}

std::string read_failure(DWORD code) {
    return "\nRead from device failed (GetOverlappedResult error code=" + std::to_string(code) +
           ")\n" + testing_support::error_text(code) + "\n";
}

std::string locked_device_failure(unsigned index) {
    return "FAILED to open " + emulator::device_path(index) + ", error=32\n";
}

struct ProgramRun {
    ProcessResult result;
    LeftOpen left;
    std::vector<testing_support::TraceLine> requests;
};

ProgramRun run(const std::string& scenario, const std::vector<std::string>& arguments,
               bool error_into_output = false) {
    TraceFile trace;
    ProgramRun run;
    run.result = testing_support::run_process(
        testing_support::program_path(), arguments,
        {"CORVANTEL_EMULATOR=" + scenario + ";" + trace.item()}, 30000, error_into_output);
    run.left = testing_support::left_open(trace);
    run.requests = trace.lines_of("request");
    return run;
}

int requests_on(const ProgramRun& run, const std::string& ep) {
    int count = 0;
    for (const testing_support::TraceLine& line : run.requests) {
        count += line.fields.count("ep") != 0 && line.fields.at("ep") == ep ? 1 : 0;
    }
    return count;
}

// Where start-up ended, and what the run shows for it.
enum class Ended {
    event,
    device_open,
    monitor_start,
    start_request_not_sent,
    start_request,
    poller_start,
    writer_start,
    reader_start,
    running_read_failed
};

struct Expected {
    bool monitor;  // the monitor ran: its greeting, then its final newline
    int exit_status;
    int control_at_least, control_at_most;  // control requests that reached the device
    bool writes;                            // the writer ran: its requests may have reached it
    int reads;                              // read requests that reached the device
    int events_left;                        // the stop event, once it was made
};

Expected expected_for(Ended ended) {
    switch (ended) {
        case Ended::event:
            return {false, 3, 0, 0, false, 0, 0};
        case Ended::device_open:
        case Ended::monitor_start:
            return {false, 3, 0, 0, false, 0, 1};
        case Ended::start_request_not_sent:
            return {true, 2, 0, 0, false, 0, 1};
        case Ended::start_request:
            return {true, 2, 1, 1, false, 0, 1};
        case Ended::poller_start:
            return {true, 3, 1, 1, false, 0, 1};
        case Ended::writer_start:
            return {true, 3, 1, 100, false, 0, 1};
        case Ended::reader_start:
            return {true, 3, 1, 100, true, 0, 1};
        case Ended::running_read_failed:
            return {true, 2, 1, 100, true, 5, 1};
    }
    return {};
}

struct LifecycleCase {
    const char* name;
    std::string scenario;
    std::vector<std::string> arguments;
    std::string echo;     // the command line's echo lines behind the banner
    std::string message;  // what the failing step prints on standard output
    std::string error;    // standard error
    Ended ended;
};

std::vector<LifecycleCase> lifecycle_cases() {
    const std::string no_device_0 = "\nERROR:  Cannot open device 0\n";
    return {
        {"EventFails", "event_fail=1", {}, "", "\nERROR:  Cannot create event\n", "", Ended::event},
        {"NoDevice", "devices=0", {}, "", no_device_0, "", Ended::device_open},
        {"IndexBeyondTheLast",
         "devices=2",
         {"-device=2"},
         "Device index = 2\n",
         "\nERROR:  Cannot open device 2\n",
         "",
         Ended::device_open},
        {"IndexMinusOne",
         "devices=2",
         {"-device=-1"},
         "Device index = 4294967295\n",
         "\nERROR:  Cannot open device -1\n",
         "",
         Ended::device_open},
        {"LockedDevice",
         "locked=0",
         {},
         "",
         no_device_0,
         locked_device_failure(0),
         Ended::device_open},
        {"SecondOfTwoLocked",
         "devices=2;locked=1",
         {"-device=1"},
         "Device index = 1\n",
         "\nERROR:  Cannot open device 1\n",
         locked_device_failure(1),
         Ended::device_open},
        // The device lookup's buffer.
        {"DeviceLookupOutOfMemory", "alloc_fail=1", {}, "", no_device_0, "", Ended::device_open},
        {"MonitorStartFails",
         "thread_fail=1",
         {},
         "",
         thread_start_failure(),
         "",
         Ended::monitor_start},
        // The start request's own event and buffer.
        {"StartRequestWithoutEvent",
         "event_fail=2",
         {},
         "",
         "\nERROR: Can't create event\n",
         "",
         Ended::start_request_not_sent},
        {"StartRequestOutOfMemory",
         "alloc_fail=2",
         {},
         "",
         "\nERROR: Insufficient memory\n",
         "",
         Ended::start_request_not_sent},
        {"StartRequestFailsPending",
         "ep0_fail=1",
         {},
         "",
         control_failure(31, false),
         "",
         Ended::start_request},
        {"StartRequestFailsAtOnce",
         "ep0_fail=1:31:at_once",
         {},
         "",
         control_failure(31, true),
         "",
         Ended::start_request},
        // The start request runs before the option is published: nothing is held back.
        {"StartRequestFailsIgnoringEp0Errors",
         "ep0_fail=1:1117",
         {"-ignore_EP0_errors"},
         "",
         control_failure(1117, false),
         "",
         Ended::start_request},
        {"StartRequestFailsAtOnceIgnoringEp0Errors",
         "ep0_fail=1:31:at_once",
         {"-ignore_EP0_errors"},
         "",
         control_failure(31, true),
         "",
         Ended::start_request},
        {"PollerStartFails",
         "thread_fail=2",
         {},
         "",
         thread_start_failure(),
         "",
         Ended::poller_start},
        {"WriterStartFails",
         "thread_fail=3",
         {},
         "",
         thread_start_failure(),
         "",
         Ended::writer_start},
        {"ReaderStartFails",
         "thread_fail=4",
         {},
         "",
         thread_start_failure(),
         "",
         Ended::reader_start},
        // Without the writer the third thread is the reader.
        {"ReaderStartFailsWithoutWriter",
         "thread_fail=3",
         {"-no_write"},
         "",
         thread_start_failure(),
         "",
         Ended::writer_start},
        // Every step done; the run ends when the fifth read fails.
        {"AllStepsDoneReadFails",
         "read_fail=5",
         {},
         "",
         read_failure(31),
         "",
         Ended::running_read_failed},
    };
}

void PrintTo(const LifecycleCase& c, std::ostream* out) {
    *out << c.scenario;
    for (const std::string& argument : c.arguments) {
        *out << " " << argument;
    }
}

struct Lifecycle : testing::TestWithParam<LifecycleCase> {};

TEST_P(Lifecycle, MessageExitStatusAndNothingLeftOpen) {
    const LifecycleCase& c = GetParam();
    const Expected e = expected_for(c.ended);
    const ProgramRun r = run(c.scenario, c.arguments);
    EXPECT_EQ(r.result.exit_status, e.exit_status);
    EXPECT_EQ(r.result.err, c.error);

    const std::string& out = r.result.out;
    const std::string head = std::string(banner) + c.echo;
    ASSERT_EQ(out.substr(0, head.size()), head) << out;
    if (!e.monitor) {
        EXPECT_EQ(out, head + c.message);
    } else {
        // The monitor's output with the failure's message somewhere inside it, before the
        // monitor's final newline: the failing step printed before the run was stopped.
        const size_t at = out.find(c.message, head.size());
        ASSERT_NE(at, std::string::npos) << out;
        EXPECT_LT(at + c.message.size(), out.size()) << "the message came after the monitor ended";
        std::string monitor_part = out.substr(head.size());
        monitor_part.erase(at - head.size(), c.message.size());
        EXPECT_TRUE(
            std::regex_match(monitor_part, std::regex(std::string(greeting) + "(\r[^\r\n]*\r)*\n")))
            << monitor_part;
    }

    ASSERT_TRUE(r.left.line_found);
    EXPECT_EQ(r.left.devices, 0);
    EXPECT_EQ(r.left.threads, 0);
    EXPECT_EQ(r.left.events, e.events_left);

    EXPECT_GE(requests_on(r, "0x00"), e.control_at_least);
    EXPECT_LE(requests_on(r, "0x00"), e.control_at_most);
    if (!e.writes) {
        EXPECT_EQ(requests_on(r, "0x01"), 0);
    }
    EXPECT_EQ(requests_on(r, "0x81"), e.reads);
}

INSTANTIATE_TEST_SUITE_P(Steps, Lifecycle, testing::ValuesIn(lifecycle_cases()),
                         [](const testing::TestParamInfo<LifecycleCase>& info) {
                             return std::string(info.param.name);
                         });

TEST(LifecycleOrder, OpenFailureOnStandardErrorComesBeforeTheRunsMessage) {
    const ProgramRun r = run("locked=0", {}, true);
    EXPECT_EQ(r.result.exit_status, 3);
    EXPECT_EQ(r.result.out,
              std::string(banner) + locked_device_failure(0) + "\nERROR:  Cannot open device 0\n");
}

TEST(LifecycleOrder, AFailedWriteKeepsItsStatusThroughTheCancelOfAHungRead) {
    // The reader's first transfer never ends; the twentieth write, some 125 ms in at a slow
    // link, fails and ends the run. The shutdown then waits out the read's grace.
    const ProgramRun r = run("read_hang=1;write_mbps=10;write_fail=20:1117", {});
    EXPECT_EQ(r.result.exit_status, 2);
    const std::string write_failure =
        "\nWrite to device failed (GetOverlappedResult error code=1117)\n" +
        testing_support::error_text(1117) + "\n";
    const std::string tail = "\nCancelling read operation\n" + read_failure(995);
    const std::string& out = r.result.out;
    const size_t at = out.find(write_failure);
    ASSERT_NE(at, std::string::npos) << out;
    ASSERT_GE(out.size(), tail.size());
    EXPECT_EQ(out.substr(out.size() - tail.size()), tail) << out;
    EXPECT_LT(at, out.size() - tail.size());
    ASSERT_TRUE(r.left.line_found);
    EXPECT_EQ(r.left.devices, 0);
    EXPECT_EQ(r.left.threads, 0);
    EXPECT_EQ(requests_on(r, "0x81"), 1);
    EXPECT_EQ(requests_on(r, "0x01"), 20);
}

struct PatternCase {
    std::vector<std::string> arguments;
    std::string echo;
    std::string first_bytes;  // the trace's hex of the first 16 bytes of every write
};

TEST(WrittenPattern, EveryWriteCarriesTheCommandLinesWords) {
    const PatternCase cases[] = {
        {{}, "", "00000000ffffffff00000000ffffffff"},
        {{"-data=1,256"},
         "Data pattern = 0x00000001,0x00000100\n",
         "01000000000100000100000000010000"},
        {{"-data=0xDEADBEEF,0x12345678"},
         "Data pattern = 0xDEADBEEF,0x12345678\n",
         "efbeadde78563412efbeadde78563412"},
    };
    for (const PatternCase& c : cases) {
        SCOPED_TRACE(c.first_bytes);
        TraceFile trace;
        // The third write fails, which ends the run.
        const ProcessResult result =
            testing_support::run_process(testing_support::program_path(), c.arguments,
                                         {"CORVANTEL_EMULATOR=write_fail=3;" + trace.item()});
        EXPECT_EQ(result.exit_status, 2);
        EXPECT_EQ(result.out.substr(0, sizeof banner - 1 + c.echo.size()), banner + c.echo);
        const std::vector<testing_support::TraceLine> writes = trace.lines_of("request", "0x01");
        ASSERT_EQ(writes.size(), 3u);
        for (const testing_support::TraceLine& write : writes) {
            EXPECT_EQ(write.fields.at("out"), "65536");
            EXPECT_EQ(write.fields.at("data"), c.first_bytes);
            EXPECT_EQ(write.fields.at("uniform"), "1") << "the buffer does not repeat its words";
        }
    }
}

}  // namespace
