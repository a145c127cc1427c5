// A small reader of the option formats with sscanf's rules and wrapping 32-bit numbers.
#include "app/number_scan.h"

static bool is_blank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

static int digit_value(char c, int base) {
    int value = 99;
    if (c >= '0' && c <= '9') {
        value = c - '0';
    } else if (c >= 'a' && c <= 'f') {
        value = c - 'a' + 10;
    } else if (c >= 'A' && c <= 'F') {
        value = c - 'A' + 10;
    }
    return value < base ? value : -1;
}

static const char* skip_blanks(const char* text) {
    while (is_blank(*text)) {
        ++text;
    }
    return text;
}

// Reads one number at *text; returns false on a matching failure (no digit).
static bool read_number(const char** text, int base, DWORD* value) {
    const char* at = *text;
    bool negative = false;
    if (*at == '+' || *at == '-') {
        negative = *at == '-';
        ++at;
    }
    if (base == 16 && at[0] == '0' && (at[1] == 'x' || at[1] == 'X') &&
        digit_value(at[2], 16) >= 0) {
        at += 2;
    }
    if (digit_value(*at, base) < 0) {
        return false;
    }
    DWORD number = 0;  // unsigned arithmetic keeps the low 32 bits of any length of digits
    for (; digit_value(*at, base) >= 0; ++at) {
        number = number * static_cast<DWORD>(base) + static_cast<DWORD>(digit_value(*at, base));
    }
    *value = negative ? 0u - number : number;
    *text = at;
    return true;
}

int scan_numbers(const char* text, const char* format, DWORD values[2]) {
    int conversions = 0;
    int numbers = 0;
    const char* at = text;
    // An input failure (the text ended) before the first conversion gives -1.
    const int ended = -1;
    for (const char* f = format; *f != '\0'; ++f) {
        if (is_blank(*f)) {
            at = skip_blanks(at);
            continue;
        }
        if (*f != '%') {
            if (*at == '\0') {
                return conversions > 0 ? conversions : ended;
            }
            if (*at != *f) {
                return conversions;
            }
            ++at;
            continue;
        }
        ++f;
        if (*f == 'c') {
            if (*at == '\0') {
                return conversions > 0 ? conversions : ended;
            }
            ++at;
            ++conversions;
            continue;
        }
        // "%lX" or "%lu"
        if (*f == 'l') {
            ++f;
        }
        const int base = (*f == 'X' || *f == 'x') ? 16 : 10;
        at = skip_blanks(at);
        if (*at == '\0') {
            return conversions > 0 ? conversions : ended;
        }
        DWORD value = 0;
        if (!read_number(&at, base, &value)) {
            return conversions;
        }
        if (numbers < 2) {
            values[numbers++] = value;
        }
        ++conversions;
    }
    return conversions;
}
