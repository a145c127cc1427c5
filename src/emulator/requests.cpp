// A request as it reaches the device: checked against the driver's rules, recorded and traced,
// numbered within its kind, given its scenario rule, and queued on its endpoint (or answered at
// once).
#include <string.h>

#include "emulator/core.h"
#include "portable/errors.h"

namespace emulator {

namespace {

const DWORD control_transfer = 0x00220020u;
const DWORD data_transfer = 0x0022004Bu;

unsigned le16(const unsigned char* at) {
    return static_cast<unsigned>(at[0]) | static_cast<unsigned>(at[1]) << 8;
}

uint32_t le32(const unsigned char* at) {
    return static_cast<uint32_t>(at[0]) | static_cast<uint32_t>(at[1]) << 8 |
           static_cast<uint32_t>(at[2]) << 16 | static_cast<uint32_t>(at[3]) << 24;
}

bool all_zero(const unsigned char* at, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        if (at[i] != 0) {
            return false;
        }
    }
    return true;
}

// Vendor request 1, device to host, 21 bytes right behind the block, one buffer both ways.
bool good_control(const unsigned char* block, const void* in, DWORD in_length, const void* out,
                  DWORD out_length) {
    const unsigned length = le16(block + 6);
    return in == out && in_length == out_length && block[0] == 0xC0 && block[1] == 1 &&
           le16(block + 4) == 0 && length == 21 && block[12] == 0 && block[13] == 0 &&
           all_zero(block + 14, 12) && le32(block + 26) == 0 && le32(block + 30) == 38 &&
           le32(block + 34) == length && in_length == 38 + length;
}

// Nothing but the endpoint address, a bulk endpoint, and a data buffer.
bool good_data(const unsigned char* block, DWORD in_length, const void* out, DWORD out_length) {
    return in_length == 38 && all_zero(block, 13) && all_zero(block + 14, 24) &&
           (block[13] == 0x81 || block[13] == 0x01) && out != nullptr && out_length > 0;
}

}  // namespace

DWORD check_request(DWORD control_code, const void* in, DWORD in_length, const void* out,
                    DWORD out_length, const OVERLAPPED* overlapped, int* slot) {
    if (overlapped == nullptr || overlapped->hEvent == nullptr || in == nullptr || in_length < 38) {
        return ERROR_INVALID_PARAMETER;
    }
    const unsigned char* block = static_cast<const unsigned char*>(in);
    if (control_code == control_transfer && good_control(block, in, in_length, out, out_length)) {
        *slot = endpoint_control;
        return 0;
    }
    if (control_code == data_transfer && good_data(block, in_length, out, out_length)) {
        *slot = endpoint_slot(block[13]);
        return 0;
    }
    return ERROR_INVALID_PARAMETER;
}

void record_out_buffer(const unsigned char* buffer, DWORD length, OutRecord mode,
                       OutBufferRecord* record) {
    record->present = true;
    record->first_count = length < 16 ? length : 16;
    memcpy(record->first_bytes, buffer, record->first_count);
    if (mode == OutRecord::first_bytes) {
        return;
    }
    // Uniform: every byte equals the one 8 places before it.
    record->scanned = true;
    record->uniform = length < 8 || memcmp(buffer, buffer + 8, length - 8) == 0;
    if (mode == OutRecord::copy) {
        record->copy.assign(buffer, buffer + length);
    }
}

namespace {

// Ends a request that the calling thread serves inside DeviceIoControl: the at_once result.
BOOL in_call_result(DWORD code, DWORD bytes, LPDWORD bytes_returned) {
    if (code != 0) {
        SetLastError(code);
        return FALSE;
    }
    if (bytes_returned != nullptr) {
        *bytes_returned = bytes;
    }
    return TRUE;
}

}  // namespace

BOOL io_control(HANDLE device, DWORD control_code, LPVOID in, DWORD in_length, LPVOID out,
                DWORD out_length, LPDWORD bytes_returned, LPOVERLAPPED overlapped) {
    standin::Object* handle_object = nullptr;
    standin::Object* event = nullptr;
    standin::acquire_two(device, standin::Kind::device,
                         overlapped != nullptr ? overlapped->hEvent : nullptr, standin::Kind::event,
                         &handle_object, &event);
    DeviceHandle* handle = static_cast<DeviceHandle*>(handle_object);
    if (handle == nullptr) {
        if (event != nullptr) {
            standin::release(event);
        }
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    int slot = -1;
    DWORD verdict = check_request(control_code, in, in_length, out, out_length, overlapped, &slot);
    if (verdict == 0 && !handle->overlapped) {
        verdict = ERROR_INVALID_PARAMETER;  // this device takes overlapped requests only
    }
    if (verdict == 0 && event == nullptr) {
        verdict = ERROR_INVALID_PARAMETER;
    }

    Core& c = core();
    const Clock::time_point arrival = Clock::now();
    if (verdict == 0 && c.shutting_down) {
        verdict = ERROR_DEVICE_NOT_CONNECTED;
    }

    RequestRecord record;
    record.seen = true;
    record.ioctl = control_code;
    record.in_length = in_length;
    record.out_length = out_length;
    if (in != nullptr) {
        record.block_bytes = in_length < 38 ? in_length : 38;
        memcpy(record.block, in, record.block_bytes);
    }
    const bool traced = tracing(c);
    const bool out_data = verdict == 0 && slot == endpoint_out;
    if (out_data) {
        const OutRecord asked = c.out_mode;
        const OutRecord mode =
            c.trace_file_open && asked == OutRecord::first_bytes ? OutRecord::scan : asked;
        record_out_buffer(static_cast<const unsigned char*>(out), out_length, mode, &record.out);
    }
    // The request line goes out before the request can end, so it precedes its done line.
    if (traced) {
        char text[160];
        snprintf(text, sizeof text,
                 "request ioctl=0x%08X ep=0x%02X in=%u out=%u block=", control_code,
                 record.block[13], in_length, out_length);
        std::string line = text + hex(record.block, record.block_bytes);
        if (out_data) {
            line += " data=" + hex(record.out.first_bytes, record.out.first_count) +
                    (record.out.uniform ? " uniform=1" : " uniform=0");
        }
        trace_line(c, line);
    }
    const uint64_t sequence = c.sequence.fetch_add(1) + 1;

    if (verdict != 0) {
        {
            std::lock_guard<std::mutex> hold(c.lock);
            ++c.refused;
            c.last_refused = record;
            c.last_refused_sequence = sequence;
        }
        if (event != nullptr) {
            standin::release(event);
        }
        standin::release(handle);
        SetLastError(verdict);
        return FALSE;
    }

    Endpoint& endpoint = c.endpoints[slot];
    std::unique_lock<std::mutex> hold(endpoint.lock);
    const Scenario& s = c.scenario;
    record.number = ++endpoint.figures.received;
    endpoint.last_sequence = sequence;

    const FailRule& fail = slot == endpoint_control ? s.ep0_fail
                           : slot == endpoint_in    ? s.read_fail
                                                    : s.write_fail;
    const Nth& hang = slot == endpoint_control ? s.ep0_hang
                      : slot == endpoint_in    ? s.read_hang
                                               : s.write_hang;
    const bool fails = fail.nth.matches(record.number);
    if (fails && fail.at_once) {
        endpoint.figures.last = std::move(record);
        ++endpoint.figures.completed;
        ++endpoint.figures.failed;
        if (traced) {
            char text[96];
            snprintf(text, sizeof text, "done ep=0x%02X request=%llu result=%u bytes=0",
                     endpoint_address_of(slot),
                     static_cast<unsigned long long>(endpoint.figures.last.number), fail.code);
            trace_line(c, text);
        }
        endpoint.changed.notify_all();
        hold.unlock();
        standin::release(event);
        standin::release(handle);
        SetLastError(fail.code);
        return FALSE;
    }

    auto request = std::make_shared<Request>();
    request->handle = handle;
    request->event = event;
    request->overlapped = overlapped;
    request->issuer = std::this_thread::get_id();
    request->slot = slot;
    request->buffer = static_cast<unsigned char*>(out);
    request->buffer_length = out_length;
    request->wvalue = le16(record.block + 2);
    request->number = record.number;
    request->arrival = arrival;
    request->completes_in_call = s.at_once;
    request->hang = hang.matches(record.number);
    request->fail_code = fails ? fail.code : 0;
    request->reported_bytes = out_length;
    bool short_rule_hit = false;
    if (slot == endpoint_control) {
        request->reported_bytes = s.ep0_bytes;
    } else {
        const ShortRule& short_rule = slot == endpoint_in ? s.read_short : s.write_short;
        if (short_rule.nth.matches(record.number)) {
            request->reported_bytes = short_rule.bytes;
            short_rule_hit = true;
        }
    }
    endpoint.figures.last = std::move(record);
    // The platform resets the event when a request is issued with it.
    {
        std::lock_guard<std::mutex> events(standin::wait_lock());
        event->signalled = false;
    }
    store_status(overlapped, status_pending);
    store_bytes(overlapped, 0);
    ++endpoint.figures.in_flight;

    // A data transfer that is next on its endpoint and will end by itself is served by the
    // calling thread: at once, or (at_once) after its link time, so that no hand-off to the
    // service thread and back stands between the host and the link.
    const bool data = slot != endpoint_control;
    const bool next = endpoint.queue.empty();
    const uint64_t mbps = slot == endpoint_in ? s.read_mbps : s.write_mbps;
    if (data && next && !request->hang &&
        (request->completes_in_call ||
         (s.inline_complete && mbps == 0 && !fails && !short_rule_hit))) {
        serve_now(c, endpoint, *request);
        if (request->completes_in_call && request->link_end > Clock::now()) {
            // Cancellable while it waits: it stays in the queue, where cancels find it, and
            // the service thread leaves it alone.
            request->served_by_caller = true;
            endpoint.queue.push_back(request);
            endpoint.changed.notify_all();
            endpoint.wake.wait_until(hold, request->link_end, [&] { return request->cancelled; });
            endpoint.queue.pop_front();
            // A request queued behind this one waits for the service thread.
            if (!endpoint.queue.empty()) {
                start_service(c, slot);
                endpoint.wake.notify_all();
            }
        }
        const DWORD code = request->cancelled ? ERROR_OPERATION_ABORTED : request->fail_code;
        const Completion completion =
            finish(c, *request, code, code != 0 ? 0 : request->reported_bytes);
        hold.unlock();
        signal_completion(c, completion);
        if (request->completes_in_call) {
            return in_call_result(code, request->result_bytes, bytes_returned);
        }
        SetLastError(ERROR_IO_PENDING);
        return FALSE;
    }

    endpoint.queue.push_back(request);
    start_service(c, slot);
    endpoint.wake.notify_all();
    endpoint.changed.notify_all();

    if (!request->completes_in_call) {
        hold.unlock();
        SetLastError(ERROR_IO_PENDING);
        return FALSE;
    }
    endpoint.changed.wait(hold, [&] { return request->done || c.shutting_down; });
    const DWORD code = request->done ? request->result_code : ERROR_DEVICE_NOT_CONNECTED;
    const DWORD bytes = request->result_bytes;
    hold.unlock();
    return in_call_result(code, bytes, bytes_returned);
}

}  // namespace emulator
