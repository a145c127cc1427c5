// The process heap over malloc, with the allocation fault of the stand-in.
#include "portable/heap.h"

#include <stdlib.h>

#include "portable/errors.h"
#include "portable/faults.h"

using namespace standin;

static int process_heap_marker;

HANDLE GetProcessHeap(void) {
    return &process_heap_marker;
}

LPVOID HeapAlloc(HANDLE, DWORD, size_t bytes) {
    if (fault_strikes(Fault::allocation)) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    void* memory = malloc(bytes == 0 ? 1 : bytes);
    if (memory == nullptr) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    }
    return memory;
}

BOOL HeapFree(HANDLE, DWORD, LPVOID memory) {
    free(memory);
    return TRUE;
}
