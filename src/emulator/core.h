// The emulated device's inner state, shared by its files: the scenario, the three endpoints
// with their queues and service threads, the figures and the trace. Each endpoint has a lock
// of its own, so the two directions never meet in one; the trace and the few device-wide
// records have small locks of their own, taken after an endpoint's and never before one.
#pragma once

#include <stdio.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "emulator/emulator.h"
#include "portable/handles.h"
#include "portable/types.h"

namespace emulator {

using Clock = std::chrono::steady_clock;

enum { endpoint_control = 0, endpoint_out = 1, endpoint_in = 2, endpoint_count = 3 };

// 0x00, 0x01, 0x81 to 0, 1, 2; -1 for any other address.
int endpoint_slot(unsigned endpoint_address);
unsigned endpoint_address_of(int slot);

// A handle to one emulated device. Requests in flight hold a reference to it.
struct DeviceHandle : standin::Object {
    DeviceHandle(unsigned device_index, bool opened_overlapped)
        : Object(standin::Kind::device), index(device_index), overlapped(opened_overlapped) {}
    void on_close() override;
    const unsigned index;
    const bool overlapped;
};

struct Request {
    DeviceHandle* handle = nullptr;    // one reference held until the request ends
    standin::Object* event = nullptr;  // the OVERLAPPED event, one reference held likewise
    OVERLAPPED* overlapped = nullptr;
    std::thread::id issuer;
    int slot = 0;
    unsigned char* buffer = nullptr;  // the output buffer (for EP0 the whole request buffer)
    DWORD buffer_length = 0;
    unsigned wvalue = 0;
    uint64_t number = 0;
    Clock::time_point arrival;
    bool completes_in_call = false;  // DeviceIoControl waits for it (at_once=1)
    // The issuing thread serves it inside DeviceIoControl; the service thread leaves it alone.
    bool served_by_caller = false;
    bool hang = false;
    DWORD fail_code = 0;       // a failure after pending, 0: none
    DWORD reported_bytes = 0;  // the byte count a success reports
    // Service state.
    bool started = false;
    bool data_moved = false;
    bool cancelled = false;
    bool done = false;
    Clock::time_point link_start, link_end;
    DWORD result_code = 0;
    DWORD result_bytes = 0;
};

// Everything of one endpoint is guarded by its `lock`.
struct Endpoint {
    std::mutex lock;
    std::condition_variable wake;     // for the service thread and a caller serving its own
    std::condition_variable changed;  // a request arrived or ended; the service ended
    std::deque<std::shared_ptr<Request>> queue;
    std::thread thread;
    // Pacing: the previous request's virtual completion and the moment it was signalled.
    bool has_previous = false;
    Clock::time_point previous_end, previous_signal;
    EndpointFigures figures;     // turnaround filled in when read
    uint64_t last_sequence = 0;  // figures.last's place among all requests (Core::sequence)
    std::vector<uint64_t> turnaround_ns;
    // IN buffers that were filled whole once; later transfers into them get a header only.
    std::vector<std::pair<const void*, DWORD>> filled;
};

// The scenario is written by configure() with every endpoint lock and `lock` held, so it may be
// read under any one of them.
struct Core {
    std::atomic<bool> shutting_down{false};
    Scenario scenario;
    std::atomic<OutRecord> out_mode{OutRecord::first_bytes};
    Endpoint endpoints[endpoint_count];
    // Numbers every request the device receives, so that the last one of all can be found.
    std::atomic<uint64_t> sequence{0};
    // Guards the refused requests' records.
    std::mutex lock;
    uint64_t refused = 0;
    RequestRecord last_refused;
    uint64_t last_refused_sequence = 0;
    // GetOverlappedResult's wait for a request whose event someone else set: finish() wakes
    // it through `result_changed` when `result_waiters` is not zero.
    std::mutex result_lock;
    std::condition_variable result_changed;
    std::atomic<unsigned> result_waiters{0};
    // Trace, guarded by trace_lock. `tracing` is false once no line would be kept anywhere
    // (no trace file and the kept lines full), so that the hot path formats none.
    std::mutex trace_lock;
    std::atomic<bool> tracing{true};
    std::atomic<bool> trace_file_open{false};  // OUT buffers are scanned for the file's lines
    Clock::time_point origin = Clock::now();
    std::vector<std::string> lines;
    FILE* trace_file = nullptr;
    FILE* stats_file = nullptr;  // `stats=PATH`: the exit and stats lines alone
};

// The one emulated device, made at first use and never destroyed: threads of the tool may
// still reach it while the process exits. Its service threads are stopped at exit.
Core& core();

// Called with the endpoint's lock held.
void start_service(Core& c, int slot);
// Puts a data or control request on the timeline and moves its data, as the service does.
void serve_now(Core& c, Endpoint& endpoint, Request& request);
// What is left of a request that ended: its event (one reference), where its status goes, and
// the status.
struct Completion {
    standin::Object* event = nullptr;
    OVERLAPPED* overlapped = nullptr;
    ULONG_PTR status = 0;
};
// Ends a request: byte count into its OVERLAPPED, figures, trace line. The caller hands the
// Completion to signal_completion() once it has released the endpoint's lock, so that the
// thread it wakes does not run into that lock.
Completion finish(Core& c, Request& request, DWORD code, DWORD bytes);
// Marks a request in flight cancelled (once, with its trace line) and wakes its service.
void cancel_request(Core& c, Request& request);

// No lock held: publishes the status, signals the event, wakes GetOverlappedResult's waiters.
void signal_completion(Core& c, const Completion& completion);

// Takes trace_lock; may be called with an endpoint's lock held (and is, to keep each
// endpoint's lines in the order of its events).
void trace_line(Core& c, const std::string& text);
bool tracing(const Core& c);
std::string hex(const unsigned char* bytes, size_t count);
// The exit line: device, thread and event handles still open (the trace file only).
void write_exit_handles(Core& c);
void write_stats(Core& c);
void status_reply_locked(const Core& c, uint64_t number, unsigned wvalue, unsigned char reply[21]);
Turnaround turnaround_of(const std::vector<uint64_t>& samples_ns);
void record_out_buffer(const unsigned char* buffer, DWORD length, OutRecord mode,
                       OutBufferRecord* record);

// Checks a request against the driver's rules; returns 0 or ERROR_INVALID_PARAMETER, and the
// endpoint slot of a good request.
DWORD check_request(DWORD control_code, const void* in, DWORD in_length, const void* out,
                    DWORD out_length, const OVERLAPPED* overlapped, int* slot);

// What the stand-in's device services ask of the device. Each sets the last error on failure.
unsigned present_devices();
HANDLE open_device(LPCSTR path, DWORD flags_and_attributes);
BOOL io_control(HANDLE device, DWORD control_code, LPVOID in, DWORD in_length, LPVOID out,
                DWORD out_length, LPDWORD bytes_returned, LPOVERLAPPED overlapped);
BOOL overlapped_result(LPOVERLAPPED overlapped, LPDWORD bytes, BOOL wait);
BOOL cancel_requests(HANDLE device, LPOVERLAPPED overlapped, bool calling_thread_only);
bool cancel_ioex_present();

// The request status in OVERLAPPED::Internal: pending while in flight, then 0 for success or
// failure_bit | the error code. Read and written with atomic builtins (the emulator exists on
// GCC and Clang hosts only): InternalHigh is written before Internal is released.
constexpr ULONG_PTR status_pending = 0x103;
constexpr ULONG_PTR failure_bit = 0xC0000000u;
inline ULONG_PTR load_status(const OVERLAPPED* overlapped) {
    return __atomic_load_n(&overlapped->Internal, __ATOMIC_SEQ_CST);
}
inline void store_status(OVERLAPPED* overlapped, ULONG_PTR status) {
    __atomic_store_n(&overlapped->Internal, status, __ATOMIC_SEQ_CST);
}
inline ULONG_PTR load_bytes(const OVERLAPPED* overlapped) {
    return __atomic_load_n(&overlapped->InternalHigh, __ATOMIC_RELAXED);
}
inline void store_bytes(OVERLAPPED* overlapped, ULONG_PTR bytes) {
    __atomic_store_n(&overlapped->InternalHigh, bytes, __ATOMIC_RELAXED);
}

}  // namespace emulator
