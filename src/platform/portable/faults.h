// Faults of the stand-in platform itself, so that every failure path of the tool can run: the
// K-th event creation, thread start or heap allocation of the program fails. Counting starts
// when the program starts, or anew when a test arms a fault.
#pragma once

namespace standin {

enum class Fault { event_creation, thread_start, allocation };

// Makes the nth call from now (1 = the next one) fail; 0 disarms the fault.
void arm_fault(Fault fault, unsigned nth);
// Counts one call and tells whether it is the one to fail.
bool fault_strikes(Fault fault);
void disarm_all_faults();

}  // namespace standin
