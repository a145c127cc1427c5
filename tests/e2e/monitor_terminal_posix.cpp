// The program at a terminal: the greeting, status lines that overwrite each other, ESC and the
// signals that end it, and the terminal's mode given back as it was.
#include <gtest/gtest.h>

#include <signal.h>
#include <termios.h>

#include <regex>
#include <string>
#include <vector>

#include "support/process.h"
#include "support/pty_session.h"

namespace {

using testing_support::PtyExit;
using testing_support::PtySession;

const char greeting[] = "\r\nPress ESC for exit\r\n";
const char line_start[] = "  Read/Write=";

// The line-editing and echo flags a user would notice if left changed.
tcflag_t user_flags(const termios& mode) {
    return mode.c_lflag & (ECHO | ICANON | ISIG | IEXTEN | ECHOE | ECHOK);
}

struct MonitorAtTerminal : testing::Test {
    void SetUp() override {
        ASSERT_TRUE(session.start(testing_support::program_path(), {}, {}, {"CORVANTEL_EMULATOR"}));
        ASSERT_TRUE(session.initial_mode(&before));
        ASSERT_TRUE(before.c_lflag & ECHO);
        ASSERT_TRUE(before.c_lflag & ICANON);
        ASSERT_TRUE(session.wait_for(greeting, 20000)) << session.screen();
        // The first status line comes about half a second after the greeting.
        ASSERT_TRUE(session.wait_for(line_start, 20000, 1, greeting_end())) << session.screen();
    }

    size_t greeting_end() const {
        const size_t at = session.screen().find(greeting);
        return at == std::string::npos ? 0 : at + sizeof greeting - 1;
    }

    void expect_mode_restored() {
        termios after;
        ASSERT_TRUE(session.mode(&after));
        EXPECT_EQ(user_flags(after), user_flags(before));
        EXPECT_EQ(after.c_iflag, before.c_iflag);
        EXPECT_EQ(after.c_oflag, before.c_oflag);
    }

    PtySession session;
    termios before;
};

TEST_F(MonitorAtTerminal, StatusLinesOverwriteEachOtherUntilEscEndsWithStatusZero) {
    // While it runs: no echo, no line editing, Ctrl+C still a signal key.
    termios running;
    ASSERT_TRUE(session.mode(&running));
    EXPECT_FALSE(running.c_lflag & ECHO);
    EXPECT_FALSE(running.c_lflag & ICANON);
    EXPECT_TRUE(running.c_lflag & ISIG);

    ASSERT_TRUE(session.wait_for("\r00:00:02" + std::string(line_start), 20000, 1, greeting_end()))
        << session.screen();
    ASSERT_TRUE(session.send("\x1b"));
    const PtyExit end = session.wait_exit(20000);
    ASSERT_TRUE(end.ended);
    EXPECT_TRUE(end.exited);
    EXPECT_EQ(end.exit_status, 0);
    expect_mode_restored();

    // Between the greeting and the final newline: nothing but whole status lines, each from
    // one carriage return to the next, with time texts that never go back.
    const std::string& screen = session.screen();
    const size_t first = greeting_end();
    ASSERT_GE(screen.size(), first + 2);
    EXPECT_EQ(screen.substr(screen.size() - 2), "\r\n");
    const std::string lines = screen.substr(first, screen.size() - 2 - first);
    const std::regex status_line(
        "\r(\\d\\d):(\\d\\d):(\\d\\d)  Read/Write= *\\d+\\.\\d/ *\\d+\\.\\dMB/s  Errors "
        "(PHY/LNK|phy/lnk)=\\d+/\\d+\r");
    std::vector<int> seconds;
    for (std::sregex_iterator it(lines.begin(), lines.end(), status_line), end_it; it != end_it;
         ++it) {
        seconds.push_back(std::stoi((*it)[1]) * 3600 + std::stoi((*it)[2]) * 60 +
                          std::stoi((*it)[3]));
    }
    const std::string rebuilt = std::regex_replace(lines, status_line, "");
    EXPECT_EQ(rebuilt, "") << "unexpected text among the status lines";
    ASSERT_GE(seconds.size(), 4u);
    for (size_t i = 1; i < seconds.size(); ++i) {
        EXPECT_LE(seconds[i - 1], seconds[i]);
    }
    EXPECT_EQ(seconds.front(), 0);
    EXPECT_GE(seconds.back(), 2);
}

TEST_F(MonitorAtTerminal, ArrowKeySentAsOneWriteDoesNotEndIt) {
    ASSERT_TRUE(session.send("\x1b[A"));
    ASSERT_TRUE(session.send("\x1bOB"));
    ASSERT_TRUE(session.send("\x1b[15~"));
    // Two more status lines after the keys: still running.
    const size_t from = session.screen().size();
    EXPECT_TRUE(session.wait_for(line_start, 20000, 2, from)) << session.screen();
    EXPECT_TRUE(session.running());
    ASSERT_TRUE(session.send("\x1b"));
    const PtyExit end = session.wait_exit(20000);
    ASSERT_TRUE(end.ended);
    EXPECT_TRUE(end.exited);
    EXPECT_EQ(end.exit_status, 0);
    expect_mode_restored();
}

struct EndingSignal {
    const char* name;
    int signal_number;
    bool from_keyboard;  // Ctrl+C typed at the terminal rather than sent with kill
};

struct MonitorEndedBySignal : MonitorAtTerminal, testing::WithParamInterface<EndingSignal> {};

TEST_P(MonitorEndedBySignal, LeavesTheTerminalAsItWas) {
    if (GetParam().from_keyboard) {
        ASSERT_TRUE(session.send(std::string(1, static_cast<char>(before.c_cc[VINTR]))));
    } else {
        ASSERT_TRUE(session.signal(GetParam().signal_number));
    }
    const PtyExit end = session.wait_exit(20000);
    ASSERT_TRUE(end.ended);
    EXPECT_FALSE(end.exited);
    EXPECT_EQ(end.signal_number, GetParam().signal_number);
    expect_mode_restored();
}

INSTANTIATE_TEST_SUITE_P(
    Signals, MonitorEndedBySignal,
    testing::Values(EndingSignal{"CtrlC", SIGINT, true}, EndingSignal{"SIGINT", SIGINT, false},
                    EndingSignal{"SIGTERM", SIGTERM, false}, EndingSignal{"SIGHUP", SIGHUP, false},
                    EndingSignal{"SIGQUIT", SIGQUIT, false}),
    [](const testing::TestParamInfo<EndingSignal>& info) { return std::string(info.param.name); });

}  // namespace
