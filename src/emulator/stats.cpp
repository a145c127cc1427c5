// Turnaround figures from the samples of one endpoint: count, mean, median, 99th percentile
// (nearest rank) and maximum, in microseconds.
#include <algorithm>

#include "emulator/core.h"

namespace emulator {

Turnaround turnaround_of(const std::vector<uint64_t>& samples_ns) {
    Turnaround t;
    if (samples_ns.empty()) {
        return t;
    }
    std::vector<uint64_t> sorted = samples_ns;
    std::sort(sorted.begin(), sorted.end());
    const size_t n = sorted.size();
    double sum = 0;
    for (uint64_t sample : sorted) {
        sum += static_cast<double>(sample);
    }
    t.count = n;
    t.mean_us = sum / static_cast<double>(n) / 1000.0;
    t.median_us =
        (n % 2 == 1
             ? static_cast<double>(sorted[n / 2])
             : (static_cast<double>(sorted[n / 2 - 1]) + static_cast<double>(sorted[n / 2])) /
                   2.0) /
        1000.0;
    const size_t rank = (n * 99 + 99) / 100;  // ceil(0.99 n), from 1
    t.p99_us = static_cast<double>(sorted[rank - 1]) / 1000.0;
    t.max_us = static_cast<double>(sorted.back()) / 1000.0;
    return t;
}

}  // namespace emulator
