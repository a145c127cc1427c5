// The 21-byte status reply of vendor request 1: PHY and LNK counts (64-bit little-endian),
// the aux word and the aux byte.
#include "emulator/core.h"

namespace emulator {

static void put_le(unsigned char* at, uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        at[i] = static_cast<unsigned char>(value >> (8 * i));
    }
}

static void build_reply(const Scenario& scenario, uint64_t number, unsigned wvalue,
                        unsigned char reply[21]) {
    const uint64_t later = number == 0 ? 0 : number - 1;
    put_le(reply, scenario.phy.start + later * scenario.phy.step, 8);
    put_le(reply + 8, scenario.lnk.start + later * scenario.lnk.step, 8);
    put_le(reply + 16, number, 4);
    reply[20] = static_cast<unsigned char>(wvalue);
}

void status_reply(uint64_t number, unsigned wvalue, unsigned char reply[21]) {
    build_reply(current_scenario(), number, wvalue, reply);
}

// For the service thread, which holds the lock.
void status_reply_locked(const Core& c, uint64_t number, unsigned wvalue, unsigned char reply[21]) {
    build_reply(c.scenario, number, wvalue, reply);
}

}  // namespace emulator
