// The emulated device's one instance: its scenario, its reset by configure(), the figures
// that tests read back, and the start-up check of CORVANTEL_EMULATOR.
#include "emulator/core.h"

#include <stdlib.h>

#include "portable/faults.h"
#include "portable/standin_control.h"

namespace emulator {

namespace {

void stop_service() {
    Core& c = core();
    {
        std::lock_guard<std::mutex> hold(c.lock);
        c.shutting_down = true;
        for (Endpoint& endpoint : c.endpoints) {
            endpoint.wake.notify_all();
        }
        c.changed.notify_all();
    }
    for (Endpoint& endpoint : c.endpoints) {
        if (endpoint.thread.joinable()) {
            endpoint.thread.join();
        }
    }
    // A request that never completes stays in its queue, reachable, and ends with the process.
    std::lock_guard<std::mutex> hold(c.lock);
    write_exit_handles(c);
    write_stats(c);
    if (c.trace_file != nullptr) {
        fclose(c.trace_file);
        c.trace_file = nullptr;
    }
}

// Completes every request in flight as cancelled and waits until none is left. Lock held.
void drain(Core& c, std::unique_lock<std::mutex>& hold) {
    for (Endpoint& endpoint : c.endpoints) {
        for (auto& request : endpoint.queue) {
            cancel_request(c, *request);
        }
    }
    c.changed.wait(hold, [&c] {
        for (Endpoint& endpoint : c.endpoints) {
            if (!endpoint.queue.empty()) {
                return c.shutting_down;
            }
        }
        return true;
    });
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

int configure(const char* text, std::string* error) {
    Scenario scenario;
    if (parse_scenario(text, &scenario, error) != 0) {
        return 1;
    }
    FILE* trace_file = nullptr;
    if (!scenario.trace.empty()) {
        trace_file = fopen(scenario.trace.c_str(), "a");
        if (trace_file == nullptr) {
            if (error != nullptr) {
                *error = "cannot open the trace file '" + scenario.trace + "'";
            }
            return 1;
        }
    }
    Core& c = core();
    std::unique_lock<std::mutex> hold(c.lock);
    drain(c, hold);
    if (c.trace_file != nullptr) {
        fclose(c.trace_file);
    }
    c.trace_file = trace_file;
    c.scenario = scenario;
    c.out_mode = OutRecord::first_bytes;
    for (Endpoint& endpoint : c.endpoints) {
        endpoint.has_previous = false;
        endpoint.figures = EndpointFigures();
        endpoint.turnaround_ns.clear();
        endpoint.filled.clear();
    }
    c.refused = 0;
    c.last_any = RequestRecord();
    c.origin = Clock::now();
    c.lines.clear();
    apply_platform_faults(scenario);
    return 0;
}

Scenario current_scenario() {
    Core& c = core();
    std::lock_guard<std::mutex> hold(c.lock);
    return c.scenario;
}

void record_out_buffers(OutRecord mode) {
    Core& c = core();
    std::lock_guard<std::mutex> hold(c.lock);
    c.out_mode = mode;
}

EndpointFigures figures(unsigned endpoint_address) {
    const int slot = endpoint_slot(endpoint_address);
    if (slot < 0) {
        return EndpointFigures();
    }
    Core& c = core();
    std::vector<uint64_t> samples;
    EndpointFigures result;
    {
        std::lock_guard<std::mutex> hold(c.lock);
        result = c.endpoints[slot].figures;
        samples = c.endpoints[slot].turnaround_ns;
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
    std::lock_guard<std::mutex> hold(c.lock);
    return c.last_any;
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

bool wait_in_flight(unsigned endpoint_address, unsigned count, unsigned timeout_ms) {
    const int slot = endpoint_slot(endpoint_address);
    if (slot < 0) {
        return false;
    }
    Core& c = core();
    std::unique_lock<std::mutex> hold(c.lock);
    return c.changed.wait_for(hold, std::chrono::milliseconds(timeout_ms),
                              [&] { return c.endpoints[slot].figures.in_flight >= count; });
}

bool wait_received(unsigned endpoint_address, uint64_t count, unsigned timeout_ms) {
    const int slot = endpoint_slot(endpoint_address);
    if (slot < 0) {
        return false;
    }
    Core& c = core();
    std::unique_lock<std::mutex> hold(c.lock);
    return c.changed.wait_for(hold, std::chrono::milliseconds(timeout_ms),
                              [&] { return c.endpoints[slot].figures.received >= count; });
}

std::vector<std::string> trace_lines() {
    Core& c = core();
    std::lock_guard<std::mutex> hold(c.lock);
    return c.lines;
}

}  // namespace emulator
