// Threads started through _beginthreadex: each runs on a detached std::thread and holds a
// reference to its object, which is signalled when the thread ends.
#include "portable/threads.h"

#include <errno.h>

#include <chrono>
#include <thread>

#include "portable/errors.h"
#include "portable/events.h"
#include "portable/faults.h"
#include "portable/handles.h"

using namespace standin;

namespace {

struct Thread : Object {
    Thread() : Object(Kind::thread) {}
    std::atomic<DWORD> exit_code{STILL_ACTIVE};
};

std::atomic<unsigned> next_thread_id{1};

}  // namespace

uintptr_t _beginthreadex(void*, unsigned, unsigned(__stdcall* start_address)(void*), void* argument,
                         unsigned init_flags, unsigned* thread_id) {
    if (start_address == nullptr || init_flags != 0) {
        errno = EINVAL;
        return 0;
    }
    if (fault_strikes(Fault::thread_start)) {
        errno = EAGAIN;
        return 0;
    }
    Thread* thread = new Thread();
    thread->references.fetch_add(1);  // the running thread's own reference
    HANDLE handle = register_object(thread);
    try {
        std::thread([thread, start_address, argument] {
            const unsigned code = start_address(argument);
            thread->exit_code.store(code);
            signal(thread);
            release(thread);
        }).detach();
    } catch (...) {
        thread->references.fetch_sub(1);
        CloseHandle(handle);
        errno = EAGAIN;
        return 0;
    }
    if (thread_id != nullptr) {
        *thread_id = next_thread_id.fetch_add(1);
    }
    return reinterpret_cast<uintptr_t>(handle);
}

BOOL GetExitCodeThread(HANDLE handle, LPDWORD exit_code) {
    Object* object = acquire(handle, Kind::thread);
    if (object == nullptr) {
        return FALSE;
    }
    *exit_code = static_cast<Thread*>(object)->exit_code.load();
    release(object);
    return TRUE;
}

void Sleep(DWORD milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}
