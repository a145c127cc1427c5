// The emulated device's trace file as the end-to-end tests read it: a fresh file per run, its
// request, cancel and completion lines by endpoint, and the exit line with the handles the
// program left open. POSIX hosts only (the emulated device exists nowhere else).
#pragma once

#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace testing_support {

// One trace line split into its time stamp, its word and its name=value fields.
struct TraceLine {
    unsigned long long ms = 0;
    std::string word;
    std::map<std::string, std::string> fields;
    std::string text;
};

inline TraceLine parse_trace_line(const std::string& text) {
    TraceLine line;
    line.text = text;
    std::istringstream words(text);
    std::string stamp;
    words >> stamp >> line.word;
    line.ms = strtoull(stamp.c_str(), nullptr, 10);
    std::string field;
    while (words >> field) {
        const size_t equals = field.find('=');
        if (equals != std::string::npos) {
            line.fields[field.substr(0, equals)] = field.substr(equals + 1);
        }
    }
    return line;
}

class TraceFile {
  public:
    TraceFile() {
        char name[] = "/tmp/corvantel-e2e-trace-XXXXXX";
        const int fd = mkstemp(name);
        if (fd >= 0) {
            close(fd);
            path_ = name;
        }
    }
    TraceFile(const TraceFile&) = delete;
    TraceFile& operator=(const TraceFile&) = delete;
    ~TraceFile() {
        if (!path_.empty()) {
            unlink(path_.c_str());
        }
    }

    // The scenario item that sends the trace here.
    std::string item() const { return "trace=" + path_; }

    std::vector<TraceLine> lines() const {
        std::vector<TraceLine> result;
        std::ifstream file(path_);
        std::string text;
        while (std::getline(file, text)) {
            result.push_back(parse_trace_line(text));
        }
        return result;
    }

    // The lines with `word` ("request", "cancel", "done", "exit", "stats"), on the endpoint
    // `ep` ("0x00", "0x01", "0x81") unless it is empty.
    std::vector<TraceLine> lines_of(const std::string& word, const std::string& ep = "") const {
        std::vector<TraceLine> result;
        for (const TraceLine& line : lines()) {
            if (line.word == word &&
                (ep.empty() || (line.fields.count("ep") != 0 && line.fields.at("ep") == ep))) {
                result.push_back(line);
            }
        }
        return result;
    }

  private:
    std::string path_;
};

// What the exit line says was left open; -1 for a figure that is missing.
struct LeftOpen {
    bool line_found = false;
    int devices = -1;
    int threads = -1;
    int events = -1;
};

inline LeftOpen left_open(const TraceFile& trace) {
    LeftOpen result;
    const std::vector<TraceLine> exits = trace.lines_of("exit");
    if (exits.size() != 1) {
        return result;
    }
    const auto figure = [&exits](const char* name) {
        const auto found = exits[0].fields.find(name);
        return found == exits[0].fields.end() ? -1 : atoi(found->second.c_str());
    };
    result.line_found = true;
    result.devices = figure("open_device_handles");
    result.threads = figure("open_thread_handles");
    result.events = figure("open_events");
    return result;
}

}  // namespace testing_support
