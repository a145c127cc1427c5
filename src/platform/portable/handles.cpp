// The registry of live handles and the wait machinery shared by events and threads.
#include "portable/handles.h"

#include <algorithm>
#include <chrono>
#include <unordered_set>

#include "portable/errors.h"
#include "portable/events.h"

namespace standin {

struct Waiter {
    std::condition_variable wake;
};

namespace {

std::unordered_set<Object*>& registry() {
    static std::unordered_set<Object*> objects;
    return objects;
}

std::mutex& registry_lock() {
    static std::mutex lock;
    return lock;
}

}  // namespace

std::mutex& wait_lock() {
    static std::mutex lock;
    return lock;
}

HANDLE register_object(Object* object) {
    std::lock_guard<std::mutex> hold(registry_lock());
    registry().insert(object);
    return object;
}

Object* acquire(HANDLE handle, Kind kind) {
    Object* object = static_cast<Object*>(handle);
    std::lock_guard<std::mutex> hold(registry_lock());
    if (registry().count(object) == 0 || object->kind != kind) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    object->references.fetch_add(1);
    return object;
}

void acquire_two(HANDLE a, Kind ka, HANDLE b, Kind kb, Object** first, Object** second) {
    Object* objects[2] = {static_cast<Object*>(a), static_cast<Object*>(b)};
    const Kind kinds[2] = {ka, kb};
    bool failed = false;
    {
        std::lock_guard<std::mutex> hold(registry_lock());
        for (int i = 0; i < 2; ++i) {
            if (i == 1 && objects[i] == nullptr) {
                continue;
            }
            if (registry().count(objects[i]) == 0 || objects[i]->kind != kinds[i]) {
                objects[i] = nullptr;
                failed = true;
            } else {
                objects[i]->references.fetch_add(1);
            }
        }
    }
    if (failed) {
        SetLastError(ERROR_INVALID_HANDLE);
    }
    *first = objects[0];
    *second = objects[1];
}

static Object* acquire_waitable(HANDLE handle) {
    Object* object = static_cast<Object*>(handle);
    std::lock_guard<std::mutex> hold(registry_lock());
    if (registry().count(object) == 0 ||
        (object->kind != Kind::event && object->kind != Kind::thread)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    object->references.fetch_add(1);
    return object;
}

void release(Object* object) {
    if (object->references.fetch_sub(1) == 1) {
        delete object;
    }
}

void signal(Object* object) {
    std::lock_guard<std::mutex> hold(wait_lock());
    object->signalled = true;
    for (Waiter* waiter : object->waiters) {
        waiter->wake.notify_one();
    }
}

void signal_with_status(Object* object, ULONG_PTR* status, ULONG_PTR value) {
    std::lock_guard<std::mutex> hold(wait_lock());
    __atomic_store_n(status, value, __ATOMIC_SEQ_CST);
    object->signalled = true;
    for (Waiter* waiter : object->waiters) {
        waiter->wake.notify_one();
    }
}

int live_handles(Kind kind) {
    std::lock_guard<std::mutex> hold(registry_lock());
    return static_cast<int>(
        std::count_if(registry().begin(), registry().end(),
                      [kind](const Object* object) { return object->kind == kind; }));
}

// Returns the index of the lowest signalled object, or -1; consumes an auto-reset event.
static int first_signalled(Object* const* objects, DWORD count) {
    for (DWORD i = 0; i < count; ++i) {
        if (objects[i]->signalled) {
            if (!objects[i]->manual_reset) {
                objects[i]->signalled = false;
            }
            return static_cast<int>(i);
        }
    }
    return -1;
}

static DWORD wait_for(Object* const* objects, DWORD count, DWORD milliseconds) {
    using clock = std::chrono::steady_clock;
    const auto deadline = clock::now() + std::chrono::milliseconds(milliseconds);
    static thread_local Waiter waiter;
    std::unique_lock<std::mutex> hold(wait_lock());
    int found = first_signalled(objects, count);
    if (found >= 0 || milliseconds == 0) {
        return found >= 0 ? WAIT_OBJECT_0 + static_cast<DWORD>(found) : WAIT_TIMEOUT;
    }
    for (DWORD i = 0; i < count; ++i) {
        objects[i]->waiters.push_back(&waiter);
    }
    while ((found = first_signalled(objects, count)) < 0) {
        if (milliseconds == INFINITE) {
            waiter.wake.wait(hold);
        } else if (waiter.wake.wait_until(hold, deadline) == std::cv_status::timeout) {
            found = first_signalled(objects, count);
            break;
        }
    }
    for (DWORD i = 0; i < count; ++i) {
        auto& list = objects[i]->waiters;
        list.erase(std::find(list.begin(), list.end(), &waiter));
    }
    return found >= 0 ? WAIT_OBJECT_0 + static_cast<DWORD>(found) : WAIT_TIMEOUT;
}

}  // namespace standin

using namespace standin;

DWORD WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL wait_all,
                             DWORD milliseconds) {
    enum { most_objects = 64 };
    if (count == 0 || count > most_objects || handles == nullptr || wait_all) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return WAIT_FAILED;
    }
    Object* objects[most_objects];
    for (DWORD i = 0; i < count; ++i) {
        objects[i] = acquire_waitable(handles[i]);
        if (objects[i] == nullptr) {
            for (DWORD j = 0; j < i; ++j) {
                release(objects[j]);
            }
            return WAIT_FAILED;
        }
    }
    const DWORD result = wait_for(objects, count, milliseconds);
    for (DWORD i = 0; i < count; ++i) {
        release(objects[i]);
    }
    return result;
}

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
    return WaitForMultipleObjects(1, &handle, FALSE, milliseconds);
}

BOOL CloseHandle(HANDLE handle) {
    Object* object = static_cast<Object*>(handle);
    {
        std::lock_guard<std::mutex> hold(registry_lock());
        if (registry().count(object) == 0) {
            SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
        registry().erase(object);
    }
    object->on_close();
    release(object);
    return TRUE;
}
