// Module handles and the look-up of a function by name: only "Kernel32.dll" and the two cancel
// functions the tool looks for; the scenario can hide CancelIoEx.
#include <string.h>
#include <strings.h>

#include "emulator/core.h"
#include "portable/device_io.h"
#include "portable/errors.h"

static int kernel32_marker;
static int program_marker;

HMODULE GetModuleHandleA(LPCSTR module_name) {
    if (module_name == nullptr) {
        return &program_marker;
    }
    if (strcasecmp(module_name, "kernel32.dll") == 0 || strcasecmp(module_name, "kernel32") == 0) {
        return &kernel32_marker;
    }
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
}

// Cast through a function type without parameters, which converts to any other quietly.
template <typename Function>
static FARPROC procedure(Function function) {
    return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)(void)>(function));
}

FARPROC GetProcAddress(HMODULE module, LPCSTR procedure_name) {
    if (module == &kernel32_marker && procedure_name != nullptr) {
        if (strcmp(procedure_name, "CancelIoEx") == 0 && emulator::cancel_ioex_present()) {
            return procedure(&CancelIoEx);
        }
        if (strcmp(procedure_name, "CancelIo") == 0) {
            return procedure(&CancelIo);
        }
    }
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
}
