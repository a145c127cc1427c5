// Kernel events: manual-reset or auto-reset, created signalled or not.
#include "portable/events.h"

#include "portable/errors.h"
#include "portable/faults.h"
#include "portable/handles.h"

using namespace standin;

HANDLE CreateEventA(LPSECURITY_ATTRIBUTES, BOOL manual_reset, BOOL initial_state, LPCSTR name) {
    if (name != nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);  // named events are not part of the stand-in
        return nullptr;
    }
    if (fault_strikes(Fault::event_creation)) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    Object* event = new Object(Kind::event);
    event->manual_reset = manual_reset != FALSE;
    event->signalled = initial_state != FALSE;
    return register_object(event);
}

BOOL SetEvent(HANDLE handle) {
    Object* event = acquire(handle, Kind::event);
    if (event == nullptr) {
        return FALSE;
    }
    signal(event);
    release(event);
    return TRUE;
}

BOOL ResetEvent(HANDLE handle) {
    Object* event = acquire(handle, Kind::event);
    if (event == nullptr) {
        return FALSE;
    }
    {
        std::lock_guard<std::mutex> hold(wait_lock());
        event->signalled = false;
    }
    release(event);
    return TRUE;
}
