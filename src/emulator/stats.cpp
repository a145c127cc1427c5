// Turnaround figures from the samples of one endpoint: count, mean, median, 99th percentile
// (nearest rank) and maximum, in microseconds.
#include <algorithm>

#include "emulator/core.h"

namespace emulator {

namespace {

// The k-th smallest sample (from 0), exactly, in two passes: a count of the samples per
// bucket, then a selection among those in the bucket that holds rank k. Below 65,536 ns each
// nanosecond is a bucket of its own (equal values, nothing left to select); above, buckets of
// 65,536 ns, the last one open-ended. A run at full host speed leaves a million samples per
// endpoint, most of them a few hundred nanoseconds, and these figures are computed while the
// process exits: a sort or std::nth_element of them takes tens of milliseconds.
const uint64_t fine = 65536;
const size_t buckets = 2 * fine;

size_t bucket_of(uint64_t ns) {
    if (ns < fine) {
        return static_cast<size_t>(ns);
    }
    const uint64_t coarse = fine + (ns >> 16);
    return static_cast<size_t>(coarse < buckets - 1 ? coarse : buckets - 1);
}

uint64_t kth_smallest(const std::vector<uint64_t>& samples, size_t k) {
    std::vector<size_t> counts(buckets, 0);
    for (uint64_t sample : samples) {
        ++counts[bucket_of(sample)];
    }
    size_t bucket = 0;
    size_t below = 0;
    while (below + counts[bucket] <= k) {
        below += counts[bucket];
        ++bucket;
    }
    if (bucket < fine) {
        return bucket;
    }
    std::vector<uint64_t> inside;
    inside.reserve(counts[bucket]);
    for (uint64_t sample : samples) {
        if (bucket_of(sample) == bucket) {
            inside.push_back(sample);
        }
    }
    const size_t at = k - below;
    std::nth_element(inside.begin(), inside.begin() + static_cast<std::ptrdiff_t>(at),
                     inside.end());
    return inside[at];
}

}  // namespace

Turnaround turnaround_of(const std::vector<uint64_t>& samples_ns) {
    Turnaround t;
    if (samples_ns.empty()) {
        return t;
    }
    const size_t n = samples_ns.size();
    double sum = 0;
    uint64_t most = 0;
    for (uint64_t sample : samples_ns) {
        sum += static_cast<double>(sample);
        most = std::max(most, sample);
    }
    t.count = n;
    t.mean_us = sum / static_cast<double>(n) / 1000.0;
    const double upper = static_cast<double>(kth_smallest(samples_ns, n / 2));
    const double median =
        n % 2 == 1 ? upper
                   : (static_cast<double>(kth_smallest(samples_ns, n / 2 - 1)) + upper) / 2.0;
    t.median_us = median / 1000.0;
    const size_t rank = (n * 99 + 99) / 100;  // ceil(0.99 n), from 1
    t.p99_us = static_cast<double>(kth_smallest(samples_ns, rank - 1)) / 1000.0;
    t.max_us = static_cast<double>(most) / 1000.0;
    return t;
}

}  // namespace emulator
