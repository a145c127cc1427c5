// The stand-in's handle space. A HANDLE is the address of an Object; a registry of the live
// objects lets every call tell a valid handle from a stale or made-up one. Events and threads
// are waitable: their signalled state and the threads waiting for them are guarded by one
// process-wide lock, and each waiting thread sleeps on a condition of its own.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <vector>

#include "portable/types.h"

namespace standin {

enum class Kind { event, thread, device, device_set };

struct Waiter;

struct Object {
    explicit Object(Kind object_kind) : kind(object_kind) {}
    virtual ~Object() = default;
    // Runs when the last handle to the object is closed, before the registry forgets it.
    virtual void on_close() {}

    const Kind kind;
    std::atomic<int> references{1};
    // Guarded by wait_lock().
    bool signalled = false;
    bool manual_reset = true;
    std::vector<Waiter*> waiters;
};

std::mutex& wait_lock();

// Enters a new object into the registry; the registry's reference is the handle.
HANDLE register_object(Object* object);
// Returns the live object behind a handle with one more reference, or null (last error
// ERROR_INVALID_HANDLE) when the handle is not valid or not of the kind asked for.
Object* acquire(HANDLE handle, Kind kind);
void release(Object* object);

// Sets a waitable object signalled and wakes the threads waiting for it.
void signal(Object* object);
// The same, storing `value` into *status first under the same lock (an atomic store), so that
// a thread that sees the value and then resets the event cannot come before the signal.
void signal_with_status(Object* object, ULONG_PTR* status, ULONG_PTR value);

// acquire() of two handles under one look-up of the registry. *first is null when `a` is not
// a valid handle of kind `ka` (last error ERROR_INVALID_HANDLE); *second likewise for `b`, and
// null without a look-up when `b` is null. Either one may be null while the other is not.
void acquire_two(HANDLE a, Kind ka, HANDLE b, Kind kb, Object** first, Object** second);

// How many live handles of a kind exist, for tests that check nothing is left behind.
int live_handles(Kind kind);

}  // namespace standin
