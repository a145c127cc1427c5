// Counters of the platform faults that a scenario or a test has armed.
#include "portable/faults.h"

#include <atomic>

namespace standin {

namespace {

struct Counter {
    std::atomic<unsigned> nth{0};
    std::atomic<unsigned> calls{0};
};

Counter counters[3];

}  // namespace

void arm_fault(Fault fault, unsigned nth) {
    Counter& counter = counters[static_cast<int>(fault)];
    counter.calls.store(0);
    counter.nth.store(nth);
}

bool fault_strikes(Fault fault) {
    Counter& counter = counters[static_cast<int>(fault)];
    const unsigned call = counter.calls.fetch_add(1) + 1;
    const unsigned nth = counter.nth.load();
    return nth != 0 && call == nth;
}

void disarm_all_faults() {
    for (Counter& counter : counters) {
        counter.nth.store(0);
        counter.calls.store(0);
    }
}

}  // namespace standin
