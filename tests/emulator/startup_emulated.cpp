// The scenario of the real program, read from CORVANTEL_EMULATOR before anything else runs.
#include <gtest/gtest.h>

#include "support/process.h"

namespace {

using testing_support::program_path;
using testing_support::run_process;

TEST(StartupTest, ABadScenarioEndsTheProgramBeforeTheBanner) {
    struct Case {
        const char* scenario;
        const char* message;
    };
    const Case cases[] = {
        {"CORVANTEL_EMULATOR=bogus=1",
         "corvantel emulator: unknown scenario key 'bogus' in CORVANTEL_EMULATOR\n"},
        {"CORVANTEL_EMULATOR=devices=2;read_fail=1:x",
         "corvantel emulator: bad value '1:x' for scenario key 'read_fail' in "
         "CORVANTEL_EMULATOR\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.scenario);
        const auto result = run_process(program_path(), {}, {c.scenario});
        EXPECT_EQ(result.exit_status, 3);
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(result.err, c.message);
    }
}

TEST(StartupTest, AGoodScenarioIsTakenSilently) {
    // A rejected argument ends the program right after the banner, device untouched.
    const auto result = run_process(program_path(), {"-bogus"},
                                    {"CORVANTEL_EMULATOR=devices=2; read_mbps=0 ;at_once=1"});
    EXPECT_EQ(result.exit_status, 3);
    EXPECT_EQ(result.out.rfind("Corvantel version. 1.2\n", 0), 0u) << result.out;
    EXPECT_EQ(result.err, "");
}

}  // namespace
