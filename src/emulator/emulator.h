// The emulated device's interface for in-process tests: set a scenario, read back what the
// device saw and did, wait until requests are in flight. The tool itself never calls any of
// this; it reaches the device only through the stand-in's handles and control codes.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

namespace emulator {

// Which request of a kind a rule hits: requests of each kind are counted from 1 (control
// requests on EP0, bulk reads on 0x81 and bulk writes on 0x01 each have their own count; the
// start request is control request 1). k == 0: no request. "K+" sets and_later. A rule may
// name several requests, "K1,K2,...,Kn" in rising order (at most most_nth_items): k is K1,
// `more` holds the rest, and a "+" behind the last one, Kn, hits every request after Kn too.
struct Nth {
    static const unsigned most_nth_items = 16;
    unsigned k = 0;
    bool and_later = false;
    unsigned more[most_nth_items - 1] = {};
    unsigned more_count = 0;
    bool matches(uint64_t number) const {
        if (k == 0) {
            return false;
        }
        if (number == k) {
            return true;
        }
        for (unsigned i = 0; i < more_count; ++i) {
            if (number == more[i]) {
                return true;
            }
        }
        return and_later && number > (more_count == 0 ? k : more[more_count - 1]);
    }
};

// `*_fail=K[:CODE[:at_once]]`: the request fails with `code`; with at_once inside
// DeviceIoControl, else it pends first and fails when the link would have completed it.
struct FailRule {
    Nth nth;
    uint32_t code = 31;
    bool at_once = false;
};

// `*_short=K:BYTES`: the transfer reports `bytes` moved.
struct ShortRule {
    Nth nth;
    uint32_t bytes = 0;
};

// `phy=START[:STEP]`: START at the first control request, STEP more at each later one,
// in 64-bit arithmetic that wraps.
struct CountRule {
    uint64_t start = 0;
    uint64_t step = 0;
};

// Every key of the scenario string, with its default.
struct Scenario {
    unsigned devices = 1;
    bool has_locked = false;  // `locked=I`: device I cannot be opened (error 32)
    unsigned locked = 0;
    unsigned read_mbps = 380;  // units of 2^20 bytes/s; 0: as fast as the host goes
    unsigned write_mbps = 380;
    bool at_once = false;
    // `inline_complete=1`: with the direction's rate 0, a pending data transfer that no rule
    // hits is completed before DeviceIoControl returns (FALSE, ERROR_IO_PENDING, its event
    // already signalled), as a driver may do; 0 hands it to the endpoint's service thread.
    bool inline_complete = false;
    FailRule read_fail, write_fail, ep0_fail;
    Nth read_hang, write_hang, ep0_hang;
    ShortRule read_short, write_short;
    uint32_t ep0_bytes = 59;
    uint32_t ep0_us = 125;
    CountRule phy, lnk;
    bool no_cancelioex = false;
    bool has_tick_start = false;
    uint32_t tick_start = 0;
    std::string trace;  // empty: no trace file
    std::string stats;  // `stats=PATH`: the exit line and stats lines alone, at exit; empty: none
    unsigned event_fail = 0;
    unsigned thread_fail = 0;
    unsigned alloc_fail = 0;
};

// Reads a scenario string: `key=value` items separated by ';' (blanks around keys and values
// and empty items are allowed). Numbers are decimal or 0x-hexadecimal and must fit their field.
// Starts from the defaults; a later item replaces an earlier one of the same key. Returns 0, or
// 1 with a message in *error (which may be null). No side effects: *out is written only on
// success.
int parse_scenario(const char* text, Scenario* out, std::string* error);

// Replaces the whole scenario as CORVANTEL_EMULATOR would, with the same syntax (null or "":
// the defaults). Requests still in flight are completed as cancelled first. Resets the
// counters, the request numbering, the figures, the trace and its clock, the record mode, and
// the stand-in's faults and clock start of the scenario. Returns 0, or 1 with a message in
// *error; on failure nothing changes.
int configure(const char* scenario, std::string* error);

// The scenario in force.
Scenario current_scenario();

// The path of device `index` as SetupDiGetDeviceInterfaceDetailA reports it.
std::string device_path(unsigned index);

// How an OUT data buffer is recorded in RequestRecord::out. Scanning a whole 64 KiB buffer per
// transfer would cost memory bandwidth at high rates, so only the first 16 bytes are kept
// unless a test or the trace asks for more. configure() sets first_bytes again.
enum class OutRecord {
    first_bytes,  // first_bytes only; uniform unknown (scanned false) unless a trace is on
    scan,         // also whether the whole buffer repeats its first 8 bytes
    copy,         // also a full copy of the buffer
};
void record_out_buffers(OutRecord mode);

struct OutBufferRecord {
    bool present = false;  // the request was an OUT data transfer
    unsigned char first_bytes[16] = {};
    uint32_t first_count = 0;  // valid bytes of first_bytes (fewer for a shorter buffer)
    bool scanned = false;      // uniform is known
    bool uniform = false;      // the whole buffer repeats its first 8 bytes
    std::vector<unsigned char> copy;
};

// One request as the device received it.
struct RequestRecord {
    bool seen = false;
    uint32_t ioctl = 0;
    unsigned char block[38] = {};
    uint32_t block_bytes = 0;  // bytes of block that were readable (in buffer, at most 38)
    uint32_t in_length = 0;
    uint32_t out_length = 0;
    uint64_t number = 0;  // its number within its kind; 0 for a refused request
    OutBufferRecord out;
};

struct Turnaround {
    uint64_t count = 0;
    double mean_us = 0;
    double median_us = 0;
    double p99_us = 0;
    double max_us = 0;
};

// What one endpoint (0x00, 0x01 or 0x81) has seen and done since the last configure().
struct EndpointFigures {
    uint64_t received = 0;   // accepted requests; refused ones are not counted here
    uint64_t completed = 0;  // requests that ended, whatever their result
    uint64_t succeeded = 0;
    uint64_t failed = 0;       // ended with an error other than cancellation
    uint64_t cancelled = 0;    // ended with 995 (a cancel or the closing of the handle)
    uint64_t bytes_moved = 0;  // sum of the reported byte counts of successful completions
    uint64_t busy_ns = 0;      // link time spent moving data (virtual timeline)
    unsigned in_flight = 0;    // received and not ended yet
    // From a completion being signalled to the next request arriving on the endpoint.
    Turnaround turnaround;
    RequestRecord last;  // the last accepted request on the endpoint
};
EndpointFigures figures(unsigned endpoint_address);

// Requests refused with 87, and the last request of any kind, refused ones included.
uint64_t refused_requests();
RequestRecord last_request();

// Device handles open now.
int open_device_handles();

// The index of the device a handle was opened on, or -1 when it is not a device handle.
int handle_device_index(void* handle);

// Wait until at least `count` requests are in flight on the endpoint (received, not ended),
// or until `count` requests have been received since configure(). True when reached within
// timeout_ms.
bool wait_in_flight(unsigned endpoint_address, unsigned count, unsigned timeout_ms);
bool wait_received(unsigned endpoint_address, uint64_t count, unsigned timeout_ms);

// The trace lines recorded since configure(), without their newline (at most the first 50000;
// the file of `trace=PATH` gets every line). At exit the file alone gets, after the last
// request, cancel and completion:
//   T exit open_device_handles=N open_thread_handles=M open_events=E
// the device, thread and event handles still open (a thread handle still open is a thread that
// was not joined and closed), then one stats line per endpoint:
//   T stats ep=0x%02X requests=N completed=N bytes=N busy_us=N turnarounds=N mean_us=F
//     median_us=F p99_us=F max_us=F
// The file of `stats=PATH` gets these exit and stats lines and nothing else, so that a run can
// be measured without the cost of a trace line per request.
std::vector<std::string> trace_lines();

// The status reply of control request `number` (1 = the first): the 21 bytes the device puts
// behind the block. PHY and LNK from the scenario, the aux word is the request number's low 32
// bits, the aux byte the low byte of the request's wValue.
void status_reply(uint64_t number, unsigned wvalue, unsigned char reply[21]);

}  // namespace emulator
