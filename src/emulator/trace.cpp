// The trace: one line per request received, per cancel and per completion, kept in memory for
// tests and appended to the scenario's trace file; at exit the handles the program left open,
// then the stats lines. `stats=PATH` gets the exit and stats lines alone, so that the figures
// can be had without a line written per request.
#include <inttypes.h>

#include <initializer_list>

#include "emulator/core.h"

namespace emulator {

namespace {

// Enough for the first requests of any test; the file gets every line.
const size_t most_kept_lines = 50000;

}  // namespace

std::string hex(const unsigned char* bytes, size_t count) {
    static const char digits[] = "0123456789abcdef";
    std::string text(count * 2, '0');
    for (size_t i = 0; i < count; ++i) {
        text[2 * i] = digits[bytes[i] >> 4];
        text[2 * i + 1] = digits[bytes[i] & 0x0F];
    }
    return text;
}

static std::string stamped(const Core& c, const std::string& text) {
    const auto since =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - c.origin);
    char stamp[24];
    snprintf(stamp, sizeof stamp, "%llu ", static_cast<unsigned long long>(since.count()));
    return stamp + text;
}

bool tracing(const Core& c) {
    return c.tracing.load(std::memory_order_relaxed);
}

void trace_line(Core& c, const std::string& text) {
    std::lock_guard<std::mutex> hold(c.trace_lock);
    std::string line = stamped(c, text);
    if (c.trace_file != nullptr) {
        fprintf(c.trace_file, "%s\n", line.c_str());
        fflush(c.trace_file);
    }
    if (c.lines.size() < most_kept_lines) {
        c.lines.push_back(std::move(line));
    } else if (c.trace_file == nullptr) {
        c.tracing.store(false, std::memory_order_relaxed);
    }
}

// An exit-time line: into the trace (file and kept lines) when there is a trace file, and
// into the stats file.
static void exit_line(Core& c, const std::string& text) {
    std::lock_guard<std::mutex> hold(c.trace_lock);
    std::string line = stamped(c, text);
    for (FILE* file : {c.trace_file, c.stats_file}) {
        if (file != nullptr) {
            fprintf(file, "%s\n", line.c_str());
            fflush(file);
        }
    }
    if (c.trace_file != nullptr && c.lines.size() < most_kept_lines) {
        c.lines.push_back(std::move(line));
    }
}

static bool exit_lines_wanted(Core& c) {
    std::lock_guard<std::mutex> hold(c.trace_lock);
    return c.trace_file != nullptr || c.stats_file != nullptr;
}

void write_exit_handles(Core& c) {
    if (!exit_lines_wanted(c)) {
        return;
    }
    // By the time the process exits, every thread the tool started has been joined and its
    // handle closed, and the device closed; the stop event alone is meant to stay open.
    char text[160];
    snprintf(text, sizeof text, "exit open_device_handles=%d open_thread_handles=%d open_events=%d",
             standin::live_handles(standin::Kind::device),
             standin::live_handles(standin::Kind::thread),
             standin::live_handles(standin::Kind::event));
    exit_line(c, text);
}

void write_stats(Core& c) {
    if (!exit_lines_wanted(c)) {
        return;
    }
    for (int slot = 0; slot < endpoint_count; ++slot) {
        Endpoint& endpoint = c.endpoints[slot];
        std::unique_lock<std::mutex> hold(endpoint.lock);
        const EndpointFigures figures = endpoint.figures;
        const std::vector<uint64_t> samples = endpoint.turnaround_ns;
        hold.unlock();
        const Turnaround t = turnaround_of(samples);
        char text[400];
        snprintf(text, sizeof text,
                 "stats ep=0x%02X requests=%llu completed=%llu bytes=%llu busy_us=%llu "
                 "turnarounds=%llu mean_us=%.1f median_us=%.1f p99_us=%.1f max_us=%.1f",
                 endpoint_address_of(slot), static_cast<unsigned long long>(figures.received),
                 static_cast<unsigned long long>(figures.completed),
                 static_cast<unsigned long long>(figures.bytes_moved),
                 static_cast<unsigned long long>(figures.busy_ns / 1000),
                 static_cast<unsigned long long>(t.count), t.mean_us, t.median_us, t.p99_us,
                 t.max_us);
        exit_line(c, text);
    }
}

}  // namespace emulator
