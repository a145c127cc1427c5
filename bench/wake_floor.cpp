// The floor under any host turnaround on this machine: two threads play ping-pong over two of
// the stand-in's events, and one wake-up costs half a round trip. Prints the figures as one
// JSON object: round trips, median and 99th percentile of a round trip, and the wake-up.
#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <thread>
#include <vector>

#include "platform/platform.h"

namespace {

using Clock = std::chrono::steady_clock;

double percentile(std::vector<double> sorted, double fraction) {
    const size_t rank = static_cast<size_t>(fraction * static_cast<double>(sorted.size()));
    return sorted[std::min(rank, sorted.size() - 1)];
}

}  // namespace

int main(int argc, char** argv) {
    const int round_trips = argc > 1 ? atoi(argv[1]) : 20000;
    if (round_trips <= 0) {
        fprintf(stderr, "usage: wake_floor [ROUND_TRIPS]\n");
        return 2;
    }
    // Auto-reset, as a ping-pong needs: each wait consumes the signal it woke on.
    HANDLE ping = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    HANDLE pong = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (ping == nullptr || pong == nullptr) {
        fprintf(stderr, "wake_floor: cannot create the events\n");
        return 1;
    }
    std::thread partner([&] {
        for (int i = 0; i < round_trips; ++i) {
            WaitForSingleObject(ping, INFINITE);
            SetEvent(pong);
        }
    });
    std::vector<double> trip_us;
    trip_us.reserve(static_cast<size_t>(round_trips));
    for (int i = 0; i < round_trips; ++i) {
        const Clock::time_point start = Clock::now();
        SetEvent(ping);
        WaitForSingleObject(pong, INFINITE);
        trip_us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
    partner.join();
    CloseHandle(ping);
    CloseHandle(pong);
    std::sort(trip_us.begin(), trip_us.end());
    const double median = percentile(trip_us, 0.5);
    printf(
        "{\"round_trips\": %d, \"round_trip_median_us\": %.2f, \"round_trip_p99_us\": %.2f, "
        "\"wake_floor_us\": %.2f}\n",
        round_trips, median, percentile(trip_us, 0.99), median / 2);
    return 0;
}
