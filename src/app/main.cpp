// The program's entry point: the command line, then one test run, whose result becomes the
// process exit status.
#include "app/command_line.h"
#include "app/test_run.h"

int main(int argument_count, char** arguments) {
    // Every print must reach the console at once, the status line included, which has no
    // newline. Unbuffered, each print call has written its text before it returns, and the
    // runtime holds the stream's lock for the whole call, so no print is split by another
    // thread's.
    setvbuf(stdout, nullptr, _IONBF, 0);
    const Options options = parse_command_line(argument_count, arguments);
    // The normal process exit flushes and closes the standard streams.
    exit(run_test(&options));
}
