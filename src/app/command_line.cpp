// Matching the arguments against the options, scanning the numbers of "-device" and "-data",
// and the usage text.
#include "app/command_line.h"

#include "app/number_scan.h"
#include "app/run_state.h"

const char usage_text[] =
    "USAGE:  Corvantel [-device=<device_index>]\n"
    "        [-data=<data1>,<data2>]\n"
    "        [-no_read] [-no_write]\n"
    "        [-ignore_EP0_errors]\n"
    "where:\n"
    "  <device_index>   Device index 0... (default=0).\n"
    "  <data1>,<data2>  Repeating pattern of 32-bit data words <data1> and <data2>\n"
    "                   will be sent to FX3. Default values are 0x00000000\n"
    "                   and 0xFFFFFFFF.\n"
    "  -no_read         Reading from device is not performed.\n"
    "  -no_write        Writing to device is not performed.\n"
    "  -ignore_EP0_errors    Etron drivers fail EP 0 Control Request\n"
    "                   randomly at heavy USB3.0 read/write loads. By default,\n"
    "                   Control Request failure is considered as USB\n"
    "                   communication failure.\n"
    "                   Specifing -ignore_EP0_errors option lets to\n"
    "                   experiment with USB3.0 reads/writes also on Etron hosts.\n"
    "   NB! Prefix hexadecimal numbers with 0x\n";

enum OptionKind { OPTION_DEVICE, OPTION_DATA, OPTION_NO_READ, OPTION_NO_WRITE, OPTION_IGNORE_EP0 };

struct OptionName {
    const char* name;  // compared over its whole length, case of ASCII letters ignored
    OptionKind kind;
};

// In the order every argument is tested; the first match decides.
static const OptionName option_names[] = {
    {"-device", OPTION_DEVICE},
    {"-data", OPTION_DATA},
    {"-no_read", OPTION_NO_READ},
    {"-no-read", OPTION_NO_READ},
    {"-no_write", OPTION_NO_WRITE},
    {"-no-write", OPTION_NO_WRITE},
    {"-ignore_EP0_errors", OPTION_IGNORE_EP0},
};

// The trailing " %c" refuses a format when anything but white space follows the numbers.
static const char* const device_formats[] = {" = 0x%lX %c", " = 0X%lX %c", " = %lu %c"};
static const char* const data_formats[] = {
    " = 0x%lX , 0x%lX %c", " = 0x%lX , 0X%lX %c", " = 0x%lX , %lu %c",
    " = 0X%lX , 0x%lX %c", " = 0X%lX , 0X%lX %c", " = 0X%lX , %lu %c",
    " = %lu , 0x%lX %c",   " = %lu , 0X%lX %c",   " = %lu , %lu %c",
};

// Tries the formats in order; the first that converts exactly `wanted` values is taken.
static bool scan_option(const char* text, const char* const* formats, int format_count, int wanted,
                        DWORD values[2]) {
    for (int i = 0; i < format_count; ++i) {
        DWORD scanned[2] = {0, 0};
        if (scan_numbers(text, formats[i], scanned) == wanted) {
            values[0] = scanned[0];
            values[1] = scanned[1];
            return true;
        }
    }
    return false;
}

static const OptionName* match_option(const char* argument) {
    for (const OptionName& option : option_names) {
        // _strnicmp stops at the argument's end, so a shorter argument never matches.
        if (_strnicmp(argument, option.name, strlen(option.name)) == 0) {
            return &option;
        }
    }
    return nullptr;
}

// Applies one argument; returns false when it is rejected.
static bool accept_argument(const char* argument, bool echo, Options* options, DWORD pattern[2]) {
    const OptionName* option = match_option(argument);
    if (option == nullptr) {
        return false;
    }
    const char* rest = argument + strlen(option->name);
    DWORD values[2] = {0, 0};
    switch (option->kind) {
        case OPTION_DEVICE:
            if (!scan_option(rest, device_formats, 3, 1, values)) {
                return false;
            }
            options->device_index = values[0];
            if (echo) {
                printf("Device index = %u\n", static_cast<unsigned>(values[0]));
            }
            break;
        case OPTION_DATA:
            if (!scan_option(rest, data_formats, 9, 2, values)) {
                return false;
            }
            pattern[0] = values[0];
            pattern[1] = values[1];
            if (echo) {
                printf("Data pattern = 0x%08lX,0x%08lX\n", static_cast<unsigned long>(values[0]),
                       static_cast<unsigned long>(values[1]));
            }
            break;
        case OPTION_NO_READ:
            options->no_read = 1;
            break;
        case OPTION_NO_WRITE:
            options->no_write = 1;
            break;
        case OPTION_IGNORE_EP0:
            options->ignore_ep0_errors = 1;
            break;
    }
    return true;
}

int match_arguments(int argument_count, char** arguments, bool echo, Options* options,
                    DWORD pattern[2]) {
    for (int i = 1; i < argument_count; ++i) {
        if (arguments[i] == nullptr || !accept_argument(arguments[i], echo, options, pattern)) {
            return i;
        }
    }
    return 0;
}

void show_usage(void) {
    fputs(usage_text, stdout);
    exit(EXIT_STATUS_SETUP);
}

Options parse_command_line(int argument_count, char** arguments) {
    printf("Corvantel version. 1.2\n");
    Options options = {0, 0, 0, 0};
    DWORD pattern[2] = {run_state.pattern_word0, run_state.pattern_word1};
    if (match_arguments(argument_count, arguments, true, &options, pattern) != 0) {
        show_usage();
    }
    run_state.pattern_word0 = pattern[0];
    run_state.pattern_word1 = pattern[1];
    return options;
}
