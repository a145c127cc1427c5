// The link model: back-to-back transfers in both directions at the modelled rate, and the
// link time that busy time and the host's turnarounds account for.
#include <chrono>
#include <thread>

#include "emulated_device.h"

namespace {

using emulator_testing::EmulatedDevice;
using emulator_testing::Transfer;
using Clock = std::chrono::steady_clock;

class PacingTest : public EmulatedDevice {};

TEST_F(PacingTest, BackToBackTransfersMoveAtTheModelledRateAndLoseOnlyTheTurnarounds) {
    start("read_mbps=380;write_mbps=200");
    struct Direction {
        BYTE endpoint;
        double mbps;
        double elapsed = 0;
        DWORD failures = 0;
    };
    Direction directions[2] = {{ENDPOINT_BULK_IN, 380}, {ENDPOINT_BULK_OUT, 200}};
    auto run = [this](Direction* d) {
        Transfer t;
        const Clock::time_point begun = Clock::now();
        while (Clock::now() - begun < std::chrono::seconds(3)) {
            DWORD error = 0;
            if (!bulk_to_end(t, d->endpoint, &error)) {
                ++d->failures;
            }
        }
        d->elapsed = std::chrono::duration<double>(Clock::now() - begun).count();
    };
    std::thread reader(run, &directions[0]);
    std::thread writer(run, &directions[1]);
    reader.join();
    writer.join();
    for (const Direction& d : directions) {
        SCOPED_TRACE(d.endpoint);
        EXPECT_EQ(d.failures, 0u);
        const emulator::EndpointFigures f = emulator::figures(d.endpoint);
        ASSERT_GT(f.succeeded, 100u);
        EXPECT_EQ(f.bytes_moved, f.succeeded * 65536u);
        const double busy = static_cast<double>(f.busy_ns) / 1e9;
        EXPECT_NEAR(static_cast<double>(f.bytes_moved) / busy / 1048576.0, d.mbps, d.mbps * 0.005);
        // Every turnaround but the first request's is measured; with them the link time is
        // the elapsed time, less the emulator's own late wake-ups, which are credited back.
        EXPECT_EQ(f.turnaround.count, f.received - 1);
        const double accounted =
            busy + f.turnaround.mean_us * static_cast<double>(f.turnaround.count) / 1e6;
        EXPECT_NEAR(accounted, d.elapsed, 0.02 + d.elapsed * 0.01)
            << "busy " << busy << " s, turnaround mean " << f.turnaround.mean_us << " us";
        EXPECT_LE(f.turnaround.median_us, f.turnaround.p99_us);
        EXPECT_LE(f.turnaround.p99_us, f.turnaround.max_us);
    }
}

TEST_F(PacingTest, AtOnceTransfersCompleteInsideTheCallAndStillTakeTheirLinkTime) {
    start("at_once=1;read_mbps=1");  // 64 KiB: 62.5 ms
    Transfer t;
    const Clock::time_point begun = Clock::now();
    t.bytes = 0;
    EXPECT_TRUE(bulk(t, ENDPOINT_BULK_IN));
    const double seconds = std::chrono::duration<double>(Clock::now() - begun).count();
    EXPECT_EQ(t.bytes, 65536u);
    EXPECT_GE(seconds, 0.06);
    EXPECT_LT(seconds, 1.0);
    EXPECT_EQ(WaitForSingleObject(t.event, 0), WAIT_OBJECT_0);  // signalled as a driver does
}

}  // namespace
