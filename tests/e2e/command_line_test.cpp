// The command line as a user meets it: the real program run as a process, its standard output,
// standard error and exit status. The same table runs against the Windows program under Wine.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/process.h"

namespace {

using testing_support::ProcessResult;

const char banner[] = "Corvantel version. 1.2\n";

const char usage[] =
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

struct Case {
    std::vector<std::string> arguments;
    std::string echo;  // what follows the banner: the echo lines of the accepted options
    bool rejected;     // the usage text follows the echo lines and the exit status is 3
    int device_shown;  // accepted: the device index as the open failure shows it
};

// Windows writes "\r\n" for "\n" to a console or pipe in text mode; compare the texts alone.
std::string without_carriage_returns_before_newlines(const std::string& text) {
    std::string plain;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            continue;
        }
        plain += text[i];
    }
    return plain;
}

ProcessResult run(const std::vector<std::string>& arguments) {
    // No device is present, so an accepted command line ends at the device open.
    ProcessResult result = testing_support::run_process(testing_support::program_path(), arguments,
                                                        {"CORVANTEL_EMULATOR=devices=0"});
    result.out = without_carriage_returns_before_newlines(result.out);
    result.err = without_carriage_returns_before_newlines(result.err);
    return result;
}

std::string describe(const std::vector<std::string>& arguments) {
    std::string text;
    for (const std::string& argument : arguments) {
        text += "[" + argument + "] ";
    }
    return text;
}

const Case cases[] = {
    // No arguments: the defaults.
    {{}, "", false, 0},
    // Hexadecimal and decimal device numbers, case of the option name and of the digits.
    {{"-DEVICE=0x1f"}, "Device index = 31\n", false, 31},
    {{"-device=0X1F"}, "Device index = 31\n", false, 31},
    {{"-device=10"}, "Device index = 10\n", false, 10},
    {{"-device=010"}, "Device index = 10\n", false, 10},
    {{"-device=-1"}, "Device index = 4294967295\n", false, -1},
    // Too large for 32 bits: the low 32 bits, however many digits.
    {{"-device=0x100000001"}, "Device index = 1\n", false, 1},
    {{"-device=4294967297"}, "Device index = 1\n", false, 1},
    {{"-device=0x0000000000000000000000000002"}, "Device index = 2\n", false, 2},
    {{"-device=18446744073709551621"}, "Device index = 5\n", false, 5},
    // Blanks inside one quoted argument.
    {{"-device=0x10 "}, "Device index = 16\n", false, 16},
    {{"-device = 5"}, "Device index = 5\n", false, 5},
    {{"-data = 0x1 , 0x2 "}, "Data pattern = 0x00000001,0x00000002\n", false, 0},
    // The data pattern in each form.
    {{"-data=1,2"}, "Data pattern = 0x00000001,0x00000002\n", false, 0},
    {{"-data=0x10,32"}, "Data pattern = 0x00000010,0x00000020\n", false, 0},
    {{"-data=16,0x20"}, "Data pattern = 0x00000010,0x00000020\n", false, 0},
    {{"-data=0XabcDEF12,0Xffffffff"}, "Data pattern = 0xABCDEF12,0xFFFFFFFF\n", false, 0},
    {{"-data=0x1,0X2"}, "Data pattern = 0x00000001,0x00000002\n", false, 0},
    {{"-data=0X1,3"}, "Data pattern = 0x00000001,0x00000003\n", false, 0},
    {{"-data=7,0X8"}, "Data pattern = 0x00000007,0x00000008\n", false, 0},
    {{"-data=0x1ffffffff,-1"}, "Data pattern = 0xFFFFFFFF,0xFFFFFFFF\n", false, 0},
    // Repeats: every occurrence is processed again.
    {{"-device=1", "-device=2"}, "Device index = 1\nDevice index = 2\n", false, 2},
    {{"-data=1,2", "-data=3,4"},
     "Data pattern = 0x00000001,0x00000002\nData pattern = 0x00000003,0x00000004\n",
     false,
     0},
    // Flags print nothing, in any case, and may go on after the name.
    {{"-No-Read", "-NO_WRITE"}, "", false, 0},
    {{"-no_reading", "-no_write=yes", "-IGNORE_ep0_ERRORS_please", "-no_read"}, "", false, 0},
    {{"-ignore_EP0_errors", "-no-write", "-no-read"}, "", false, 0},
    // Rejections: a number with junk behind it, no "=", a bare prefix, digits without one.
    {{"-device=3x"}, "", true, 0},
    {{"-device"}, "", true, 0},
    {{"-device5"}, "", true, 0},
    {{"-device:5"}, "", true, 0},
    {{"-device="}, "", true, 0},
    {{"-device=0x"}, "", true, 0},
    {{"-device=1f"}, "", true, 0},
    {{"-device=0x1g"}, "", true, 0},
    {{"-data=0x10"}, "", true, 0},
    {{"-data=1,"}, "", true, 0},
    {{"-data=1,2,3"}, "", true, 0},
    {{"-datafoo"}, "", true, 0},
    // Arguments that match no option, or end before an option's name does.
    {{"-help"}, "", true, 0},
    {{"/?"}, "", true, 0},
    {{"--device=1"}, "", true, 0},
    {{"-ignore-EP0-errors"}, "", true, 0},
    {{"-d"}, "", true, 0},
    {{"-no"}, "", true, 0},
    {{"-dat"}, "", true, 0},
    {{""}, "", true, 0},
    // The same three words unquoted are three arguments, and -device alone is rejected.
    {{"-device", "=", "5"}, "", true, 0},
    // What came before the rejected argument stays; what comes after is never looked at.
    {{"-Device=1", "-data=1,2", "-bogus"},
     "Device index = 1\nData pattern = 0x00000001,0x00000002\n",
     true,
     0},
    {{"-bogus", "-device=7"}, "", true, 0},
    {{"-device=1", "-device=x", "-device=3"}, "Device index = 1\n", true, 0},
};

TEST(CommandLine, EachCaseGivesItsTextsAndExitStatus) {
    for (const Case& c : cases) {
        SCOPED_TRACE(describe(c.arguments));
        const ProcessResult result = run(c.arguments);
        if (c.rejected) {
            EXPECT_EQ(result.out, std::string(banner) + c.echo + usage);
            EXPECT_EQ(result.err, "");
            EXPECT_EQ(result.exit_status, 3);
        } else {
            // An accepted command line goes on to the test run, which finds no device.
            EXPECT_EQ(result.out, std::string(banner) + c.echo + "\nERROR:  Cannot open device " +
                                      std::to_string(c.device_shown) + "\n");
            EXPECT_EQ(result.err, "");
            EXPECT_EQ(result.exit_status, 3);
        }
    }
}

}  // namespace
