// The whole program at a terminal for a minute or more against an emulated device that moves
// data as fast as the host goes: both 32-bit byte counters wrap several times, the system tick
// wraps early in the run, the PHY and LNK counts pass 2^32 while a few polls fail and are
// ignored. The status lines must follow what the device moved, the time must run on without a
// jump, ESC must end the run with status 0, and nothing may be left behind.
//
// The device's trace goes through a named pipe to a reader thread here, which keeps only what
// the checks need: a run at several GB/s writes hundreds of megabytes of trace.
#include <gtest/gtest.h>

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "support/process.h"
#include "support/pty_session.h"

namespace {

using Clock = std::chrono::steady_clock;
using testing_support::PtyExit;
using testing_support::PtySession;

const uint64_t wrap = 1ull << 32;
const double mib = 1048576.0;

// The device's error counts: the count of control request n is start + (n - 1) * step. The
// first poll (request 2) sees both below 2^32, as the widening of the status line needs.
const uint64_t phy_start = 4294967290ull;
const uint64_t phy_step = 1;
const uint64_t lnk_step = 1ull << 30;  // the published low word wraps every fourth poll
const uint64_t lnk_start = 4294967000ull - lnk_step;
// Polls that fail (control request 1 is the start request, so poll p is request p + 1).
const std::set<uint64_t> failing_polls = {6, 14, 15, 30};
// The tick wraps this long after the device is set up.
const uint64_t ms_to_tick_wrap = 10000;

// How long the soak runs: at least min_run, then until both counters have wrapped
// wanted_wraps times by the status lines' account, but never beyond max_run.
const auto min_run = std::chrono::seconds(40);
const auto max_run = std::chrono::seconds(150);
const uint64_t wanted_wraps = 4;
const uint64_t least_wraps = 3;

double seconds_between(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double>(to - from).count();
}

// What the reader thread takes from the trace.
struct TraceFacts {
    // Bytes of successful completions per millisecond of the trace clock.
    std::vector<uint64_t> read_at_ms, write_at_ms;
    // Trace clock origin on this process's steady clock, estimated as the least delay seen.
    bool has_origin = false;
    Clock::time_point origin;
    uint64_t control_requests = 0;
    std::set<uint64_t> failed_control;  // control request numbers that ended in failure
    uint64_t other_failures = 0;        // data transfers that ended in anything but success
    std::string exit_line;
    std::map<unsigned, uint64_t> stats_bytes;  // per endpoint, from the stats lines
    uint64_t lines = 0;
};

class TraceReader {
  public:
    // Opens the pipe for reading and also for writing, so that the reader does not see an end
    // before the program has opened it; the program's end is seen once close_own_end is called.
    bool open(const std::string& path) {
        read_fd_ = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        own_write_fd_ = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
        if (read_fd_ < 0 || own_write_fd_ < 0) {
            return false;
        }
        thread_ = std::thread([this] { run(); });
        return true;
    }
    void close_own_end() {
        if (own_write_fd_ >= 0) {
            ::close(own_write_fd_);
            own_write_fd_ = -1;
        }
    }
    // Waits until the pipe has been read to its end (the program gone, own end closed), at
    // most `seconds`; false if that did not happen.
    bool finish(int seconds) {
        close_own_end();
        const auto deadline = Clock::now() + std::chrono::seconds(seconds);
        while (!ended_.load() && Clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        give_up_.store(true);
        if (thread_.joinable()) {
            thread_.join();
        }
        return ended_.load();
    }
    ~TraceReader() {
        give_up_.store(true);
        close_own_end();
        if (thread_.joinable()) {
            thread_.join();
        }
        if (read_fd_ >= 0) {
            ::close(read_fd_);
        }
    }
    // Only after finish().
    const TraceFacts& facts() const { return facts_; }

  private:
    void run() {
        std::string pending;
        char buffer[65536];
        while (!give_up_.load()) {
            pollfd input = {read_fd_, POLLIN, 0};
            if (poll(&input, 1, 100) <= 0) {
                continue;
            }
            const ssize_t got = read(read_fd_, buffer, sizeof buffer);
            if (got == 0) {
                ended_.store(true);
                break;
            }
            if (got < 0) {
                if (errno == EAGAIN || errno == EINTR) {
                    continue;
                }
                break;
            }
            const Clock::time_point arrival = Clock::now();
            pending.append(buffer, static_cast<size_t>(got));
            size_t start = 0;
            for (size_t end = pending.find('\n'); end != std::string::npos;
                 end = pending.find('\n', start)) {
                take(pending.c_str() + start, end - start, arrival);
                start = end + 1;
            }
            pending.erase(0, start);
        }
    }

    static void add_at(std::vector<uint64_t>& at_ms, unsigned long long ms, uint64_t bytes) {
        if (at_ms.size() <= ms) {
            at_ms.resize(ms + 1000, 0);
        }
        at_ms[ms] += bytes;
    }

    void take(const char* line, size_t length, Clock::time_point arrival) {
        ++facts_.lines;
        const std::string text(line, length);
        unsigned long long ms = 0, number = 0, bytes = 0;
        unsigned endpoint = 0, result = 0;
        int used = 0;
        if (sscanf(text.c_str(), "%llu %n", &ms, &used) != 1) {
            return;
        }
        const Clock::time_point origin = arrival - std::chrono::milliseconds(ms);
        if (!facts_.has_origin || origin < facts_.origin) {
            facts_.has_origin = true;
            facts_.origin = origin;
        }
        const char* word = text.c_str() + used;
        if (sscanf(word, "done ep=0x%x request=%llu result=%u bytes=%llu", &endpoint, &number,
                   &result, &bytes) == 4) {
            if (endpoint == 0x00) {
                facts_.control_requests = std::max<uint64_t>(facts_.control_requests, number);
                // A poll cancelled at the end of the run is no failure of the device.
                if (result != 0 && result != 995) {
                    facts_.failed_control.insert(number);
                }
            } else if (result != 0) {
                ++facts_.other_failures;
            } else {
                add_at(endpoint == 0x81 ? facts_.read_at_ms : facts_.write_at_ms, ms, bytes);
            }
        } else if (strncmp(word, "exit ", 5) == 0) {
            facts_.exit_line = word;
        } else if (sscanf(word, "stats ep=0x%x requests=%*u completed=%*u bytes=%llu", &endpoint,
                          &bytes) == 2) {
            facts_.stats_bytes[endpoint] = bytes;
        }
    }

    int read_fd_ = -1;
    int own_write_fd_ = -1;
    std::thread thread_;
    std::atomic<bool> give_up_{false};
    std::atomic<bool> ended_{false};
    TraceFacts facts_;
};

struct StatusLine {
    Clock::time_point seen;
    uint64_t seconds = 0;  // the time text in whole seconds
    double read_mib = 0, write_mib = 0;
    std::string label;
    uint64_t phy = 0, lnk = 0;
};

uint64_t seconds_of(const std::string& days, const std::string& h, const std::string& m,
                    const std::string& s) {
    return (days.empty() ? 0 : std::stoull(days)) * 86400 + std::stoull(h) * 3600 +
           std::stoull(m) * 60 + std::stoull(s);
}

// Sum of the bytes in [from_ms, to_ms) of the trace clock.
uint64_t bytes_between(const std::vector<uint64_t>& at_ms, int64_t from_ms, int64_t to_ms) {
    uint64_t sum = 0;
    for (int64_t ms = std::max<int64_t>(from_ms, 0);
         ms < to_ms && ms < static_cast<int64_t>(at_ms.size()); ++ms) {
        sum += at_ms[static_cast<size_t>(ms)];
    }
    return sum;
}

int64_t trace_ms(const TraceFacts& facts, Clock::time_point moment) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(moment - facts.origin).count();
}

// The position of control request n among those that succeeded after the start request, or -1.
int poll_position(uint64_t n, const TraceFacts& facts) {
    if (n < 2 || n > facts.control_requests || facts.failed_control.count(n) != 0) {
        return -1;
    }
    int position = 0;
    for (uint64_t k = 2; k < n; ++k) {
        position += facts.failed_control.count(k) == 0 ? 1 : 0;
    }
    return position;
}

std::string scenario_text(const std::string& trace_path) {
    std::string fails;
    for (uint64_t poll : failing_polls) {
        fails += (fails.empty() ? "" : ",") + std::to_string(poll + 1);
    }
    return "read_mbps=0;write_mbps=0;tick_start=" + std::to_string(wrap - ms_to_tick_wrap) +
           ";phy=" + std::to_string(phy_start) + ":" + std::to_string(phy_step) +
           ";lnk=" + std::to_string(lnk_start) + ":" + std::to_string(lnk_step) +
           ";ep0_fail=" + fails + ":31;trace=" + trace_path;
}

class Soak : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/corvantel-soak-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        directory_ = pattern;
        fifo_ = directory_ + "/trace";
        ASSERT_EQ(mkfifo(fifo_.c_str(), 0600), 0);
    }
    void TearDown() override {
        unlink(fifo_.c_str());
        rmdir(directory_.c_str());
    }
    std::string directory_, fifo_;
};

TEST_F(Soak, CountersAndTickWrapWhileStatusLinesFollowTheDeviceUntilEsc) {
    TraceReader trace;
    ASSERT_TRUE(trace.open(fifo_));
    PtySession session;
    ASSERT_TRUE(session.start(testing_support::program_path(), {"-ignore_EP0_errors"},
                              {"CORVANTEL_EMULATOR=" + scenario_text(fifo_)}));

    const std::string greeting = "\r\nPress ESC for exit\r\n";
    ASSERT_TRUE(session.wait_for(greeting, 30000)) << session.screen();
    const Clock::time_point greeted = Clock::now();
    const size_t lines_from = session.screen().find(greeting) + greeting.size();

    // Status lines as they arrive, each stamped when read.
    const std::regex status_pattern(
        "^(?:(\\d+)d)?(\\d\\d):(\\d\\d):(\\d\\d)  Read/Write= *(\\d+\\.\\d)/ *(\\d+\\.\\d)MB/s  "
        "Errors (PHY/LNK|phy/lnk)=(\\d+)/(\\d+)$");
    std::vector<StatusLine> lines;
    std::vector<std::string> strays;  // anything between carriage returns that is no status line
    size_t parsed = lines_from;
    // Rate updates: status lines whose rates differ from the line before (index into lines).
    std::vector<size_t> updates;
    double read_so_far = 0, write_so_far = 0;  // bytes by the status lines' account
    bool esc_sent = false;
    Clock::time_point esc_at;
    // Takes the whole lines read so far, from one "\r" to the next. Lines that come after ESC
    // was sent are checked like the others but not taken as rate updates: the time they were
    // read says little about when they were printed.
    auto take_lines = [&](Clock::time_point seen, bool after_esc) {
        const std::string& screen = session.screen();
        for (size_t cr = screen.find('\r', parsed); cr != std::string::npos;
             cr = screen.find('\r', parsed)) {
            const std::string piece = screen.substr(parsed, cr - parsed);
            parsed = cr + 1;
            std::smatch m;
            if (piece.empty()) {
                continue;
            }
            if (!std::regex_match(piece, m, status_pattern)) {
                strays.push_back(piece);
                continue;
            }
            StatusLine line;
            line.seen = seen;
            line.seconds = seconds_of(m[1], m[2], m[3], m[4]);
            line.read_mib = std::stod(m[5]);
            line.write_mib = std::stod(m[6]);
            line.label = m[7];
            line.phy = std::stoull(m[8]);
            line.lnk = std::stoull(m[9]);
            const bool changed = lines.empty() ? (line.read_mib != 0 || line.write_mib != 0)
                                               : (line.read_mib != lines.back().read_mib ||
                                                  line.write_mib != lines.back().write_mib);
            lines.push_back(line);
            if (!changed || after_esc) {
                continue;
            }
            const Clock::time_point since = updates.empty() ? greeted : lines[updates.back()].seen;
            const double span = seconds_between(since, seen);
            read_so_far += line.read_mib * mib * span;
            write_so_far += line.write_mib * mib * span;
            updates.push_back(lines.size() - 1);
            // Stop right after a rate update, so that little goes unaccounted.
            const bool long_enough = seen - greeted >= min_run;
            const bool wrapped_enough = read_so_far >= static_cast<double>(wanted_wraps * wrap) &&
                                        write_so_far >= static_cast<double>(wanted_wraps * wrap);
            if (!esc_sent && long_enough && (wrapped_enough || seen - greeted >= max_run)) {
                esc_sent = session.send("\x1b");
                esc_at = Clock::now();
            }
        }
    };
    const Clock::time_point deadline = greeted + max_run + std::chrono::seconds(30);
    while (!esc_sent && Clock::now() < deadline && session.wait_for("\r", 3000, 1, parsed)) {
        take_lines(Clock::now(), false);
    }
    ASSERT_TRUE(esc_sent) << "the status lines stopped coming:\n" << session.screen();
    const PtyExit end = session.wait_exit(20000);
    const double stop_seconds = seconds_between(esc_at, Clock::now());
    ASSERT_TRUE(end.ended) << session.screen().substr(parsed);
    take_lines(Clock::now(), true);
    ASSERT_TRUE(trace.finish(20)) << "the trace pipe did not come to its end";
    const TraceFacts& facts = trace.facts();

    // ESC ends the run at once, with status 0, and nothing after the last status line but its
    // newline: no failure message, no sanitizer report.
    EXPECT_TRUE(end.exited);
    EXPECT_EQ(end.exit_status, 0) << session.screen().substr(parsed);
    EXPECT_LT(stop_seconds, 10.0);
    const std::string tail = session.screen().substr(parsed);
    EXPECT_EQ(tail, "\n") << tail;
    EXPECT_TRUE(strays.empty()) << strays.size() << " stray pieces, the first: " << strays[0];

    // Nothing left behind: the device closed, every thread joined and its handle closed, no
    // event but the stop event, which stays open until the process ends.
    EXPECT_NE(facts.exit_line.find(" open_device_handles=0"), std::string::npos) << facts.exit_line;
    EXPECT_NE(facts.exit_line.find(" open_thread_handles=0"), std::string::npos) << facts.exit_line;
    EXPECT_NE(facts.exit_line.find(" open_events=1"), std::string::npos) << facts.exit_line;

    ASSERT_GE(updates.size(), 10u);
    ASSERT_TRUE(facts.has_origin);
    const double run_seconds = seconds_between(greeted, lines.back().seen);
    printf("soak: %.1f s, %zu status lines, %zu rate updates, %llu trace lines, stop %.0f ms\n",
           run_seconds, lines.size(), updates.size(), static_cast<unsigned long long>(facts.lines),
           stop_seconds * 1000);

    // Both counters wrapped several times; the device's own totals agree with its completions.
    const uint64_t device_read = bytes_between(facts.read_at_ms, 0, INT64_MAX);
    const uint64_t device_written = bytes_between(facts.write_at_ms, 0, INT64_MAX);
    printf("soak: read %.1f GiB (%.2f wraps), written %.1f GiB (%.2f wraps)\n",
           device_read / (mib * 1024), static_cast<double>(device_read) / wrap,
           device_written / (mib * 1024), static_cast<double>(device_written) / wrap);
    EXPECT_GE(device_read, least_wraps * wrap);
    EXPECT_GE(device_written, least_wraps * wrap);
    EXPECT_EQ(facts.stats_bytes.count(0x81) ? facts.stats_bytes.at(0x81) : 0, device_read);
    EXPECT_EQ(facts.stats_bytes.count(0x01) ? facts.stats_bytes.at(0x01) : 0, device_written);
    EXPECT_EQ(facts.other_failures, 0u);

    // The rates shown, times the spans between the updates, add up to what the device moved
    // from the start to the last update, within 1 %. Each update by itself comes close too;
    // its span is only known to within the delay of reading the terminal, hence a wider bound.
    const int64_t last_update_ms = trace_ms(facts, lines[updates.back()].seen);
    const uint64_t device_read_then = bytes_between(facts.read_at_ms, 0, last_update_ms);
    const uint64_t device_written_then = bytes_between(facts.write_at_ms, 0, last_update_ms);
    const double read_error = read_so_far / static_cast<double>(device_read_then) - 1;
    const double write_error = write_so_far / static_cast<double>(device_written_then) - 1;
    printf("soak: status lines against the device: read %+.3f %%, write %+.3f %%\n",
           read_error * 100, write_error * 100);
    EXPECT_LT(std::abs(read_error), 0.01);
    EXPECT_LT(std::abs(write_error), 0.01);
    for (size_t u = 1; u < updates.size(); ++u) {
        const StatusLine& before = lines[updates[u - 1]];
        const StatusLine& line = lines[updates[u]];
        SCOPED_TRACE("rate update " + std::to_string(u) + " at " + std::to_string(line.seconds) +
                     " s");
        const int64_t from = trace_ms(facts, before.seen), to = trace_ms(facts, line.seen);
        const double span = static_cast<double>(to - from) / 1000;
        ASSERT_GT(span, 0.5);  // updates are over 1 s apart; reading the terminal may lag
        const double read_rate = bytes_between(facts.read_at_ms, from, to) / span / mib;
        const double write_rate = bytes_between(facts.write_at_ms, from, to) / span / mib;
        EXPECT_NEAR(line.read_mib, read_rate, 0.1 * read_rate + 1);
        EXPECT_NEAR(line.write_mib, write_rate, 0.1 * write_rate + 1);
    }

    // The time text runs on without a jump, across the wrap of the tick, which came early in
    // the run, and keeps to the time this side measured.
    EXPECT_GT(trace_ms(facts, lines.back().seen), static_cast<int64_t>(ms_to_tick_wrap + 5000));
    for (size_t i = 0; i < lines.size(); ++i) {
        SCOPED_TRACE("status line " + std::to_string(i));
        if (i > 0) {
            EXPECT_GE(lines[i].seconds, lines[i - 1].seconds);
            EXPECT_LE(lines[i].seconds, lines[i - 1].seconds + 2);
        }
        EXPECT_NEAR(static_cast<double>(lines[i].seconds), seconds_between(greeted, lines[i].seen),
                    2.5);
    }
    EXPECT_GE(static_cast<double>(lines.size()), run_seconds * 1.5);
    EXPECT_LE(static_cast<double>(lines.size()), run_seconds * 2 + 2);

    // The failing polls failed, and the poller went on after them.
    std::set<uint64_t> expected_failures;
    for (uint64_t poll : failing_polls) {
        expected_failures.insert(poll + 1);
    }
    EXPECT_EQ(facts.failed_control, expected_failures);
    EXPECT_GT(facts.control_requests, *expected_failures.rbegin() + 3);

    // PHY/LNK: each total shown is the device's 64-bit count of one successful poll, the two of
    // a line at most one poll apart, never going back, fresh to the end, and past 2^32.
    uint64_t last_phy = 0, last_lnk = 0;
    for (size_t i = 0; i < lines.size(); ++i) {
        const StatusLine& line = lines[i];
        SCOPED_TRACE("status line " + std::to_string(i) + ": " + std::to_string(line.phy) + "/" +
                     std::to_string(line.lnk));
        EXPECT_EQ(line.label, "PHY/LNK");
        EXPECT_GE(line.phy, last_phy);
        EXPECT_GE(line.lnk, last_lnk);
        last_phy = line.phy;
        last_lnk = line.lnk;
        if (line.phy == 0 && line.lnk == 0) {
            EXPECT_LT(i, 4u);  // before the first poll only
            continue;
        }
        ASSERT_GE(line.phy, phy_start);
        ASSERT_GE(line.lnk, lnk_start);
        ASSERT_EQ((line.lnk - lnk_start) % lnk_step, 0u);
        const int phy_poll = poll_position((line.phy - phy_start) / phy_step + 1, facts);
        const int lnk_poll = poll_position((line.lnk - lnk_start) / lnk_step + 1, facts);
        ASSERT_GE(phy_poll, 0);
        ASSERT_GE(lnk_poll, 0);
        EXPECT_LE(std::abs(phy_poll - lnk_poll), 1);
    }
    EXPECT_GT(last_phy, wrap);
    EXPECT_GT(last_lnk, 4 * wrap);
    const int last_poll = poll_position((last_lnk - lnk_start) / lnk_step + 1, facts);
    EXPECT_GE(last_poll + 4, poll_position(facts.control_requests, facts));
}

}  // namespace
