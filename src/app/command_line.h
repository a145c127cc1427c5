// The command line, the program's only configuration: the banner, the options, their echo
// lines and the usage text.
#pragma once

#include "app/options.h"

extern const char usage_text[];

// Prints the banner, reads every argument after the program's path and returns the options;
// the "-data" words go to the run state. A rejected argument ends the process through
// show_usage.
Options parse_command_line(int argument_count, char** arguments);

// Prints the usage text and ends the process with exit status 3. Does not return.
[[noreturn]] void show_usage(void);

// The matching and scanning of parse_command_line without its banner and without ending the
// process: returns 0 when every argument is accepted, else the index of the first rejected one
// (the arguments after it are not looked at). Echo lines are printed only when echo is true.
// The pattern words are written to pattern[0] and pattern[1] as "-data" gives them.
int match_arguments(int argument_count, char** arguments, bool echo, Options* options,
                    DWORD pattern[2]);
