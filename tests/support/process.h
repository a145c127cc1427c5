// Runs the tool as a user's script would: a separate process with its own arguments and
// environment, standard output and standard error read apart, and the exit status.
#pragma once

#include <string>
#include <vector>

namespace testing_support {

struct ProcessResult {
    std::string out;
    std::string err;
    int exit_status = -1;  // -1: the process did not end within the time limit and was killed
};

// Runs `program` with `arguments` (argument 0 is added), `environment` entries ("NAME=value")
// added to the caller's environment, no standard input, and a time limit in milliseconds.
// With `error_into_output`, standard error goes to the same pipe as standard output, so that
// `out` holds both in the order they were written, and `err` stays empty.
ProcessResult run_process(const std::string& program, const std::vector<std::string>& arguments,
                          const std::vector<std::string>& environment = {},
                          int time_limit_ms = 30000, bool error_into_output = false);

// The tool built beside the tests.
std::string program_path();

}  // namespace testing_support
