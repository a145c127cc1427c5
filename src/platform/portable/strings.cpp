// _strnicmp: compares at most count characters, ASCII letters without regard to case.
#include "portable/strings.h"

static int lower(unsigned char c) {
    return (c >= 'A' && c <= 'Z') ? c - 'A' + 'a' : c;
}

int _strnicmp(const char* left, const char* right, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        const int a = lower(static_cast<unsigned char>(left[i]));
        const int b = lower(static_cast<unsigned char>(right[i]));
        if (a != b || a == 0) {
            return a - b;
        }
    }
    return 0;
}
