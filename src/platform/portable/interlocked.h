// Interlocked operations on 32-bit fields, sequentially consistent, as on Windows. The plain
// loads and stores the tool makes of the same fields are relaxed atomics here, so that a
// thread sanitizer sees every access to a shared field as atomic.
#pragma once

#include "portable/types.h"

inline LONG InterlockedExchange(volatile LONG* target, LONG value) {
    return __atomic_exchange_n(target, value, __ATOMIC_SEQ_CST);
}

// Returns the value before the add; the sum wraps modulo 2^32.
inline LONG InterlockedExchangeAdd(volatile LONG* target, LONG value) {
    return __atomic_fetch_add(target, value, __ATOMIC_SEQ_CST);
}

// Returns the value after the increment.
inline LONG InterlockedIncrement(volatile LONG* target) {
    return __atomic_add_fetch(target, 1, __ATOMIC_SEQ_CST);
}

inline LONG InterlockedDecrement(volatile LONG* target) {
    return __atomic_sub_fetch(target, 1, __ATOMIC_SEQ_CST);
}

inline LONG InterlockedCompareExchange(volatile LONG* target, LONG value, LONG comparand) {
    __atomic_compare_exchange_n(target, &comparand, value, false, __ATOMIC_SEQ_CST,
                                __ATOMIC_SEQ_CST);
    return comparand;
}

inline LONG plain_load(volatile LONG* field) {
    return __atomic_load_n(field, __ATOMIC_RELAXED);
}
inline void plain_store(volatile LONG* field, LONG value) {
    __atomic_store_n(field, value, __ATOMIC_RELAXED);
}
