// The turnaround figures from an endpoint's samples: mean, median (the middle pair's mean for
// an even count), 99th percentile by nearest rank, and maximum, whatever the samples' order.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "emulator/core.h"

namespace {

TEST(TurnaroundFigures, FromSamplesInAnyOrder) {
    struct Case {
        const char* name;
        std::vector<uint64_t> samples_ns;
        double mean_us, median_us, p99_us, max_us;
    };
    std::vector<uint64_t> hundred;  // 100 down to 1 microseconds
    for (uint64_t us = 100; us >= 1; --us) {
        hundred.push_back(us * 1000);
    }
    std::vector<uint64_t> two_hundred = hundred;  // and 101 to 200 microseconds after them
    for (uint64_t us = 101; us <= 200; ++us) {
        two_hundred.push_back(us * 1000);
    }
    const Case cases[] = {
        {"one sample", {5000}, 5.0, 5.0, 5.0, 5.0},
        {"two samples", {3000, 1000}, 2.0, 2.0, 3.0, 3.0},
        {"three with a repeat", {7000, 2000, 7000}, 16.0 / 3, 7.0, 7.0, 7.0},
        {"1 to 100 us, falling", hundred, 50.5, 50.5, 99.0, 100.0},
        {"1 to 200 us", two_hundred, 100.5, 100.5, 198.0, 200.0},
        {"one outlier", {1000, 1000, 1000, 1000, 900000}, 180.8, 1.0, 900.0, 900.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const emulator::Turnaround t = emulator::turnaround_of(c.samples_ns);
        EXPECT_EQ(t.count, c.samples_ns.size());
        EXPECT_NEAR(t.mean_us, c.mean_us, 1e-9);
        EXPECT_NEAR(t.median_us, c.median_us, 1e-9);
        EXPECT_NEAR(t.p99_us, c.p99_us, 1e-9);
        EXPECT_NEAR(t.max_us, c.max_us, 1e-9);
    }
    const emulator::Turnaround none = emulator::turnaround_of({});
    EXPECT_EQ(none.count, 0u);
    EXPECT_EQ(none.max_us, 0.0);
}

}  // namespace
