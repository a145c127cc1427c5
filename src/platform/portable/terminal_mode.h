// The terminal under standard input, put into raw input for the keyboard and given back as it
// was on every way out of the program.
#pragma once

namespace standin {

// On the first call: when standard input is a terminal and this process is in its foreground,
// switches it to input without line editing and without echo (Ctrl+C and the other signal keys
// still work, output is untouched), and arranges for the original mode to come back at exit
// and on SIGINT, SIGTERM, SIGHUP, SIGQUIT and SIGABRT. Returns whether keys are to be read from
// standard input; later calls return the first call's answer. Not for concurrent first calls.
bool open_terminal_input();

// Gives the terminal its original mode back, if it was changed; harmless to repeat.
void restore_terminal();

}  // namespace standin
