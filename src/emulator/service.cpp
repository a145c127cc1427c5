// Endpoint service: each endpoint serves one request at a time on its own thread, paced on a
// virtual timeline, and completes it as a driver does: result into the OVERLAPPED, then its
// event signalled. Also the result query and the cancels, which meet the service here.
#include <string.h>

#include "emulator/core.h"
#include "portable/errors.h"
#include "portable/events.h"

namespace emulator {

namespace {

// Enough turnaround samples for a long test; later ones are dropped.
const size_t most_samples = 1u << 20;

uint64_t ns_of(Clock::duration duration) {
    return static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::nanoseconds>(duration).count());
}

// How long the link needs for the request.
Clock::duration link_time(const Core& c, const Request& request) {
    if (request.slot == endpoint_control) {
        return std::chrono::microseconds(c.scenario.ep0_us);
    }
    const uint64_t mbps =
        request.slot == endpoint_in ? c.scenario.read_mbps : c.scenario.write_mbps;
    if (mbps == 0) {
        return Clock::duration::zero();
    }
    const uint64_t bytes = request.fail_code != 0 ? request.buffer_length : request.reported_bytes;
    return std::chrono::nanoseconds(bytes * 1000000000ull / (mbps << 20));
}

// Puts the request on the timeline: it starts when it arrived, or, when the link was busy or
// this endpoint's service woke late, at the previous virtual completion plus the host's
// turnaround (the previous completion signalled to this arrival), so late wake-ups are not lost.
void begin(Core& c, Endpoint& endpoint, Request& request) {
    request.started = true;
    Clock::time_point start = request.arrival;
    if (endpoint.has_previous) {
        const Clock::duration gap = request.arrival > endpoint.previous_signal
                                        ? request.arrival - endpoint.previous_signal
                                        : Clock::duration::zero();
        if (endpoint.turnaround_ns.size() < most_samples) {
            endpoint.turnaround_ns.push_back(ns_of(gap));
        }
        start = endpoint.previous_end + gap;
    }
    request.link_start = start;
    request.link_end = start + link_time(c, request);
}

// The IN buffer is filled whole the first time it is seen; later transfers into it get a
// 16-byte header (the transfer number) only, to keep the emulator off the memory bus.
void fill_in_buffer(Endpoint& endpoint, Request& request) {
    const std::pair<const void*, DWORD> key(request.buffer, request.buffer_length);
    bool known = false;
    for (const auto& seen : endpoint.filled) {
        known = known || seen == key;
    }
    if (!known) {
        for (DWORD i = 0; i < request.buffer_length; ++i) {
            request.buffer[i] = static_cast<unsigned char>(i);
        }
        if (endpoint.filled.size() >= 8) {
            endpoint.filled.erase(endpoint.filled.begin());
        }
        endpoint.filled.push_back(key);
    }
    unsigned char header[16] = {};
    for (int i = 0; i < 8; ++i) {
        header[i] = static_cast<unsigned char>(request.number >> (8 * i));
    }
    header[8] = 0x81;
    memcpy(request.buffer, header, request.buffer_length < 16 ? request.buffer_length : 16);
}

// Moves the request's data: the status reply behind an EP0 block, or the IN buffer's fill.
void move_data(Core& c, Endpoint& endpoint, Request& request) {
    request.data_moved = true;
    if (request.fail_code != 0) {
        return;
    }
    if (request.slot == endpoint_control) {
        unsigned char reply[21];
        status_reply_locked(c, request.number, request.wvalue, reply);
        // Only as many data bytes as the reply reports, and never past the buffer.
        DWORD room = request.buffer_length > 38 ? request.buffer_length - 38 : 0;
        DWORD told = request.reported_bytes > 38 ? request.reported_bytes - 38 : 0;
        DWORD count = room < told ? room : told;
        memcpy(request.buffer + 38, reply, count < 21 ? count : 21);
    } else if (request.slot == endpoint_in) {
        fill_in_buffer(endpoint, request);
    }
}

void serve(Core* c, int slot) {
    Endpoint& endpoint = c->endpoints[slot];
    std::vector<Completion> ended;
    std::unique_lock<std::mutex> hold(endpoint.lock);
    while (!c->shutting_down) {
        for (auto it = endpoint.queue.begin(); it != endpoint.queue.end();) {
            if ((*it)->cancelled && !(*it)->served_by_caller) {
                std::shared_ptr<Request> request = *it;
                it = endpoint.queue.erase(it);
                ended.push_back(finish(*c, *request, ERROR_OPERATION_ABORTED, 0));
            } else {
                ++it;
            }
        }
        if (!ended.empty()) {
            hold.unlock();
            for (const Completion& completion : ended) {
                signal_completion(*c, completion);
            }
            ended.clear();
            hold.lock();
            continue;
        }
        if (endpoint.queue.empty() || endpoint.queue.front()->served_by_caller) {
            endpoint.wake.wait(hold);
            continue;
        }
        std::shared_ptr<Request> request = endpoint.queue.front();
        if (!request->started) {
            begin(*c, endpoint, *request);
        }
        if (request->hang) {
            endpoint.wake.wait(hold);
            continue;
        }
        if (!request->data_moved) {
            move_data(*c, endpoint, *request);
            continue;
        }
        if (Clock::now() < request->link_end) {
            endpoint.wake.wait_until(hold, request->link_end);
            continue;
        }
        endpoint.queue.pop_front();
        const Completion completion = finish(*c, *request, request->fail_code,
                                             request->fail_code != 0 ? 0 : request->reported_bytes);
        hold.unlock();
        signal_completion(*c, completion);
        hold.lock();
    }
}

}  // namespace

void serve_now(Core& c, Endpoint& endpoint, Request& request) {
    if (!request.started) {
        begin(c, endpoint, request);
    }
    if (!request.data_moved) {
        move_data(c, endpoint, request);
    }
}

void start_service(Core& c, int slot) {
    if (!c.endpoints[slot].thread.joinable()) {
        c.endpoints[slot].thread = std::thread(serve, &c, slot);
    }
}

void cancel_request(Core& c, Request& request) {
    if (request.cancelled || request.done) {
        return;
    }
    request.cancelled = true;
    char text[80];
    snprintf(text, sizeof text, "cancel ep=0x%02X request=%llu", endpoint_address_of(request.slot),
             static_cast<unsigned long long>(request.number));
    trace_line(c, text);
    c.endpoints[request.slot].wake.notify_all();
}

Completion finish(Core& c, Request& request, DWORD code, DWORD bytes) {
    store_bytes(request.overlapped, bytes);
    standin::release(request.handle);
    request.handle = nullptr;
    request.done = true;
    request.result_code = code;
    request.result_bytes = bytes;

    Endpoint& endpoint = c.endpoints[request.slot];
    EndpointFigures& figures = endpoint.figures;
    --figures.in_flight;
    ++figures.completed;
    if (code == 0) {
        ++figures.succeeded;
        figures.bytes_moved += bytes;
        figures.busy_ns += ns_of(request.link_end - request.link_start);
    } else if (code == ERROR_OPERATION_ABORTED) {
        ++figures.cancelled;
    } else {
        ++figures.failed;
    }
    if (tracing(c)) {
        char text[96];
        snprintf(text, sizeof text, "done ep=0x%02X request=%llu result=%u bytes=%u",
                 endpoint_address_of(request.slot), static_cast<unsigned long long>(request.number),
                 code, bytes);
        trace_line(c, text);
    }
    if (request.started) {
        const bool on_time = !request.cancelled && !request.hang;
        endpoint.has_previous = true;
        endpoint.previous_signal = Clock::now();
        endpoint.previous_end = on_time ? request.link_end : endpoint.previous_signal;
    }
    endpoint.changed.notify_all();
    Completion completion;
    completion.event = request.event;
    completion.overlapped = request.overlapped;
    completion.status = code == 0 ? 0 : (failure_bit | code);
    request.event = nullptr;
    return completion;
}

void signal_completion(Core& c, const Completion& completion) {
    // The status becomes visible together with the signal: whoever sees it and issues the
    // next request on the same OVERLAPPED and event resets the event after this signal.
    standin::signal_with_status(completion.event, &completion.overlapped->Internal,
                                completion.status);
    standin::release(completion.event);
    if (c.result_waiters.load() != 0) {
        std::lock_guard<std::mutex> hold(c.result_lock);
        c.result_changed.notify_all();
    }
}

BOOL overlapped_result(LPOVERLAPPED overlapped, LPDWORD bytes, BOOL wait) {
    if (overlapped == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    ULONG_PTR status = load_status(overlapped);
    if (status == status_pending) {
        if (!wait) {
            SetLastError(ERROR_IO_INCOMPLETE);
            return FALSE;
        }
        WaitForSingleObject(overlapped->hEvent, INFINITE);
        status = load_status(overlapped);
        if (status == status_pending) {
            // Someone else set the event (or closed it): wait for the request itself.
            Core& c = core();
            c.result_waiters.fetch_add(1);
            {
                std::unique_lock<std::mutex> hold(c.result_lock);
                c.result_changed.wait(hold, [&] {
                    return load_status(overlapped) != status_pending || c.shutting_down.load();
                });
            }
            c.result_waiters.fetch_sub(1);
            status = load_status(overlapped);
            if (status == status_pending) {
                SetLastError(ERROR_DEVICE_NOT_CONNECTED);
                return FALSE;
            }
        }
    }
    if (bytes != nullptr) {
        *bytes = static_cast<DWORD>(load_bytes(overlapped));
    }
    if (status == 0) {
        return TRUE;
    }
    SetLastError(static_cast<DWORD>(status & ~failure_bit));
    return FALSE;
}

BOOL cancel_requests(HANDLE device, LPOVERLAPPED overlapped, bool calling_thread_only) {
    standin::Object* handle = standin::acquire(device, standin::Kind::device);
    if (handle == nullptr) {
        return FALSE;
    }
    const std::thread::id caller = std::this_thread::get_id();
    unsigned found = 0;
    Core& c = core();
    for (Endpoint& endpoint : c.endpoints) {
        std::lock_guard<std::mutex> hold(endpoint.lock);
        for (auto& request : endpoint.queue) {
            if (request->done || request->handle != handle ||
                (overlapped != nullptr && request->overlapped != overlapped) ||
                (calling_thread_only && request->issuer != caller)) {
                continue;
            }
            ++found;
            cancel_request(c, *request);
        }
    }
    standin::release(handle);
    if (found == 0 && !calling_thread_only) {
        SetLastError(ERROR_NOT_FOUND);
        return FALSE;
    }
    return TRUE;
}

bool cancel_ioex_present() {
    Core& c = core();
    std::lock_guard<std::mutex> hold(c.lock);
    return !c.scenario.no_cancelioex;
}

}  // namespace emulator
