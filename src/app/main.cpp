// The program's entry point: the command line, then one test run.
#include "app/command_line.h"
#include "app/run_state.h"

int main(int argument_count, char** arguments) {
    // Every print must reach the console at once, the status line included, which has no
    // newline. The runtime formats each unbuffered print call whole and writes it under the
    // stream's lock, so no print is split by another thread's.
    setvbuf(stdout, nullptr, _IONBF, 0);
    Options options = parse_command_line(argument_count, arguments);
    (void)options;
    return EXIT_STATUS_OK;
}
