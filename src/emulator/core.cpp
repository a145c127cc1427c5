// The emulated device's one instance: its scenario, its reset by configure(), the figures
// that tests read back, and the start-up check of CORVANTEL_EMULATOR.
#include "emulator/core.h"

#include <stdlib.h>

#include <initializer_list>

#include "portable/faults.h"
#include "portable/standin_control.h"

namespace emulator {

namespace {

void stop_service() {
    Core& c = core();
    c.shutting_down = true;
    for (Endpoint& endpoint : c.endpoints) {
        std::lock_guard<std::mutex> hold(endpoint.lock);
        endpoint.wake.notify_all();
        endpoint.changed.notify_all();
    }
    {
        std::lock_guard<std::mutex> hold(c.result_lock);
        c.result_changed.notify_all();
    }
    for (Endpoint& endpoint : c.endpoints) {
        if (endpoint.thread.joinable()) {
            endpoint.thread.join();
        }
    }
    // A request that never completes stays in its queue, reachable, and ends with the process.
    write_exit_handles(c);
    write_stats(c);
    std::lock_guard<std::mutex> hold(c.trace_lock);
    for (FILE** file : {&c.trace_file, &c.stats_file}) {
        if (*file != nullptr) {
            fclose(*file);
            *file = nullptr;
        }
    }
}

// Completes every request in flight on the endpoint as cancelled and waits until none is
// left (or the device shuts down). The endpoint's lock held.
void drain(Core& c, Endpoint& endpoint, std::unique_lock<std::mutex>& hold) {
    for (auto& request : endpoint.queue) {
        cancel_request(c, *request);
    }
    endpoint.changed.wait(hold, [&] { return endpoint.queue.empty() || c.shutting_down; });
}

void apply_platform_faults(const Scenario& scenario) {
    standin::disarm_all_faults();
    standin::arm_fault(standin::Fault::event_creation, scenario.event_fail);
    standin::arm_fault(standin::Fault::thread_start, scenario.thread_fail);
    standin::arm_fault(standin::Fault::allocation, scenario.alloc_fail);
    // A scenario without a tick start gets the plain clock, not the last scenario's start.
    if (scenario.has_tick_start) {
        standin::set_tick_start(scenario.tick_start);
    } else {
        standin::use_system_tick();
    }
}

struct StartupCheck {
    StartupCheck() {
        const char* text = getenv("CORVANTEL_EMULATOR");
        if (text == nullptr) {
            return;
        }
        std::string error;
        if (configure(text, &error) != 0) {
            fprintf(stderr, "corvantel emulator: %s in CORVANTEL_EMULATOR\n", error.c_str());
            exit(3);
        }
    }
};

const StartupCheck startup_check;

}  // namespace

Core& core() {
    static Core* const instance = [] {
        Core* made = new Core();
        // The stand-in's handle registry is made first, so that it is destroyed after
        // stop_service has counted the handles left open.
        standin::live_handles(standin::Kind::device);
        atexit(stop_service);
        return made;
    }();
    return *instance;
}

int endpoint_slot(unsigned endpoint_address) {
    switch (endpoint_address) {
        case 0x00:
            return endpoint_control;
        case 0x01:
            return endpoint_out;
        case 0x81:
            return endpoint_in;
        default:
            return -1;
    }
}

unsigned endpoint_address_of(int slot) {
    static const unsigned addresses[endpoint_count] = {0x00, 0x01, 0x81};
    return addresses[slot];
}

static bool open_file(const std::string& path, const char* what, FILE** file, std::string* error) {
    *file = nullptr;
    if (path.empty()) {
        return true;
    }
    *file = fopen(path.c_str(), "a");
    if (*file == nullptr && error != nullptr) {
        *error = std::string("cannot open the ") + what + " file '" + path + "'";
    }
    return *file != nullptr;
}

int configure(const char* text, std::string* error) {
    Scenario scenario;
    if (parse_scenario(text, &scenario, error) != 0) {
        return 1;
    }
    FILE* trace_file = nullptr;
    FILE* stats_file = nullptr;
    if (!open_file(scenario.trace, "trace", &trace_file, error)) {
        return 1;
    }
    if (!open_file(scenario.stats, "stats", &stats_file, error)) {
        if (trace_file != nullptr) {
            fclose(trace_file);
        }
        return 1;
    }
    Core& c = core();
    // Every endpoint drained, then all of them held at once for the reset; a request that
    // arrived in between is drained in another round.
    std::unique_lock<std::mutex> holds[endpoint_count];
    for (;;) {
        for (Endpoint& endpoint : c.endpoints) {
            std::unique_lock<std::mutex> hold(endpoint.lock);
            drain(c, endpoint, hold);
        }
        bool idle = true;
        for (int slot = 0; slot < endpoint_count; ++slot) {
            holds[slot] = std::unique_lock<std::mutex>(c.endpoints[slot].lock);
            idle = idle && (c.endpoints[slot].queue.empty() || c.shutting_down);
        }
        if (idle) {
            break;
        }
        for (auto& hold : holds) {
            hold.unlock();
        }
    }
    std::lock_guard<std::mutex> core_hold(c.lock);
    std::lock_guard<std::mutex> trace_hold(c.trace_lock);
    for (FILE* file : {c.trace_file, c.stats_file}) {
        if (file != nullptr) {
            fclose(file);
        }
    }
    c.trace_file = trace_file;
    c.stats_file = stats_file;
    c.scenario = scenario;
    c.out_mode = OutRecord::first_bytes;
    for (Endpoint& endpoint : c.endpoints) {
        endpoint.has_previous = false;
        endpoint.figures = EndpointFigures();
        endpoint.last_sequence = 0;
        endpoint.turnaround_ns.clear();
        endpoint.filled.clear();
    }
    c.refused = 0;
    c.last_refused = RequestRecord();
    c.last_refused_sequence = 0;
    c.origin = Clock::now();
    c.lines.clear();
    c.tracing = true;
    c.trace_file_open = trace_file != nullptr;
    apply_platform_faults(scenario);
    return 0;
}

Scenario current_scenario() {
    Core& c = core();
    std::lock_guard<std::mutex> hold(c.lock);
    return c.scenario;
}

void record_out_buffers(OutRecord mode) {
    core().out_mode = mode;
}

EndpointFigures figures(unsigned endpoint_address) {
    const int slot = endpoint_slot(endpoint_address);
    if (slot < 0) {
        return EndpointFigures();
    }
    Endpoint& endpoint = core().endpoints[slot];
    std::vector<uint64_t> samples;
    EndpointFigures result;
    {
        std::lock_guard<std::mutex> hold(endpoint.lock);
        result = endpoint.figures;
        samples = endpoint.turnaround_ns;
    }
    result.turnaround = turnaround_of(samples);
    return result;
}

uint64_t refused_requests() {
    Core& c = core();
    std::lock_guard<std::mutex> hold(c.lock);
    return c.refused;
}

RequestRecord last_request() {
    Core& c = core();
    RequestRecord last;
    uint64_t last_sequence = 0;
    for (Endpoint& endpoint : c.endpoints) {
        std::lock_guard<std::mutex> hold(endpoint.lock);
        if (endpoint.last_sequence > last_sequence) {
            last_sequence = endpoint.last_sequence;
            last = endpoint.figures.last;
        }
    }
    std::lock_guard<std::mutex> hold(c.lock);
    if (c.last_refused_sequence > last_sequence) {
        last = c.last_refused;
    }
    return last;
}

int open_device_handles() {
    return standin::live_handles(standin::Kind::device);
}

int handle_device_index(void* handle) {
    standin::Object* object = standin::acquire(handle, standin::Kind::device);
    if (object == nullptr) {
        return -1;
    }
    const int index = static_cast<int>(static_cast<DeviceHandle*>(object)->index);
    standin::release(object);
    return index;
}

// Waits until the endpoint's figures satisfy `reached`, or the time-out passes.
template <typename Reached>
static bool wait_for_figures(unsigned endpoint_address, unsigned timeout_ms, Reached reached) {
    const int slot = endpoint_slot(endpoint_address);
    if (slot < 0) {
        return false;
    }
    Endpoint& endpoint = core().endpoints[slot];
    std::unique_lock<std::mutex> hold(endpoint.lock);
    return endpoint.changed.wait_for(hold, std::chrono::milliseconds(timeout_ms),
                                     [&] { return reached(endpoint.figures); });
}

bool wait_in_flight(unsigned endpoint_address, unsigned count, unsigned timeout_ms) {
    return wait_for_figures(endpoint_address, timeout_ms,
                            [count](const EndpointFigures& f) { return f.in_flight >= count; });
}

bool wait_received(unsigned endpoint_address, uint64_t count, unsigned timeout_ms) {
    return wait_for_figures(endpoint_address, timeout_ms,
                            [count](const EndpointFigures& f) { return f.received >= count; });
}

std::vector<std::string> trace_lines() {
    Core& c = core();
    std::lock_guard<std::mutex> hold(c.trace_lock);
    return c.lines;
}

}  // namespace emulator
