// The emulated devices of the driver's interface class: their paths, and opening one by path.
#include <stdio.h>
#include <strings.h>

#include "emulator/core.h"
#include "portable/errors.h"

namespace emulator {

std::string device_path(unsigned index) {
    char path[96];
    snprintf(path, sizeof path,
             "\\\\?\\emulated#corvantel#%04u#{ae18aa60-7f6a-11d4-97dd-00010229b959}", index);
    return path;
}

unsigned present_devices() {
    Core& c = core();
    std::lock_guard<std::mutex> hold(c.lock);
    return c.scenario.devices;
}

HANDLE open_device(LPCSTR path, DWORD flags_and_attributes) {
    Core& c = core();
    unsigned devices;
    bool has_locked;
    unsigned locked;
    {
        std::lock_guard<std::mutex> hold(c.lock);
        devices = c.scenario.devices;
        has_locked = c.scenario.has_locked;
        locked = c.scenario.locked;
    }
    for (unsigned index = 0; path != nullptr && index < devices; ++index) {
        // Windows paths compare without regard to case.
        if (strcasecmp(path, device_path(index).c_str()) != 0) {
            continue;
        }
        if (has_locked && locked == index) {
            SetLastError(ERROR_SHARING_VIOLATION);
            return INVALID_HANDLE_VALUE;
        }
        return standin::register_object(
            new DeviceHandle(index, (flags_and_attributes & FILE_FLAG_OVERLAPPED) != 0));
    }
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
}

void DeviceHandle::on_close() {
    // Closing the handle completes its requests in flight as cancelled.
    Core& c = core();
    for (Endpoint& endpoint : c.endpoints) {
        std::lock_guard<std::mutex> hold(endpoint.lock);
        for (auto& request : endpoint.queue) {
            if (request->handle == this) {
                cancel_request(c, *request);
            }
        }
    }
}

}  // namespace emulator
