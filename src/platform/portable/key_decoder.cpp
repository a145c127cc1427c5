// Key decoding for the stand-in's keyboard: characters as they come, ESC alone as 27, the
// escape sequences of xterm-like terminals and the Linux console (CSI "ESC [" and SS3 "ESC O"
// forms, with or without modifier parameters) as the Windows two-code keys.
#include "portable/key_decoder.h"

namespace standin {

namespace {

// Longest escape sequence looked at; anything longer is swallowed as unknown.
const size_t longest_sequence = 32;

struct Key {
    int lead;  // -1: a one-code key
    int code;  // -1: no key at all (swallowed)
};

const Key no_key = {-1, -1};

Key extended(int code) {
    return Key{KEY_LEAD_EXTENDED, code};
}

// F1..F10 lead 0 with 59..68; F11 and F12 lead 224 with 133 and 134.
Key function_key(int number) {
    if (number >= 1 && number <= 10) {
        return Key{KEY_LEAD_FUNCTION, 58 + number};
    }
    if (number == 11 || number == 12) {
        return Key{KEY_LEAD_EXTENDED, 122 + number};
    }
    return no_key;
}

// The final letter of "ESC [ ... X" or "ESC O X".
Key letter_key(unsigned char final) {
    switch (final) {
        case 'A':
            return extended(72);  // Up
        case 'B':
            return extended(80);  // Down
        case 'C':
            return extended(77);  // Right
        case 'D':
            return extended(75);  // Left
        case 'H':
            return extended(71);  // Home
        case 'F':
            return extended(79);  // End
        case 'P':
        case 'Q':
        case 'R':
        case 'S':
            return function_key(final - 'P' + 1);
        case 'Z':
            return Key{KEY_LEAD_FUNCTION, 15};  // Shift+Tab
        default:
            return no_key;
    }
}

// "ESC [ n ~" and "ESC [ n ; m ~".
Key tilde_key(int number) {
    switch (number) {
        case 1:
        case 7:
            return extended(71);  // Home
        case 2:
            return extended(82);  // Insert
        case 3:
            return extended(83);  // Delete
        case 4:
        case 8:
            return extended(79);  // End
        case 5:
            return extended(73);  // Page Up
        case 6:
            return extended(81);  // Page Down
        case 11:
        case 12:
        case 13:
        case 14:
        case 15:
            return function_key(number - 10);
        case 17:
        case 18:
        case 19:
        case 20:
        case 21:
            return function_key(number - 11);
        case 23:
        case 24:
            return function_key(number - 12);
        default:
            return no_key;
    }
}

size_t emit(Key key, size_t used, int codes[2], int* code_count) {
    if (key.code < 0) {
        *code_count = 0;
    } else if (key.lead < 0) {
        codes[0] = key.code;
        *code_count = 1;
    } else {
        codes[0] = key.lead;
        codes[1] = key.code;
        *code_count = 2;
    }
    return used;
}

// A sequence cut short (no final byte in time, or too long) is swallowed whole.
size_t incomplete(size_t count, bool at_end, int codes[2], int* code_count) {
    if (!at_end && count < longest_sequence) {
        return 0;
    }
    return emit(no_key, count < longest_sequence ? count : longest_sequence, codes, code_count);
}

// "ESC [" followed by parameter and intermediate bytes and one final byte.
size_t decode_csi(const unsigned char* bytes, size_t count, bool at_end, int codes[2],
                  int* code_count) {
    if (count >= 3 && bytes[2] == '[') {
        // The Linux console's F1..F5: "ESC [ [ A" to "ESC [ [ E".
        if (count < 4) {
            return incomplete(count, at_end, codes, code_count);
        }
        const unsigned char final = bytes[3];
        const Key key = (final >= 'A' && final <= 'E') ? function_key(final - 'A' + 1) : no_key;
        return emit(key, 4, codes, code_count);
    }
    int first_number = -1;
    bool in_first = true;
    for (size_t i = 2; i < count && i < longest_sequence; ++i) {
        const unsigned char byte = bytes[i];
        if (byte >= '0' && byte <= '9') {
            if (in_first) {
                first_number = (first_number < 0 ? 0 : first_number * 10) + (byte - '0');
                if (first_number > 9999) {
                    first_number = 9999;
                }
            }
        } else if (byte >= 0x20 && byte <= 0x3F) {
            in_first = false;  // ';', other parameter bytes and intermediates
        } else if (byte >= 0x40 && byte <= 0x7E) {
            const Key key = byte == '~' ? tilde_key(first_number) : letter_key(byte);
            return emit(key, i + 1, codes, code_count);
        } else {
            // Not part of a sequence: swallow what came before, the byte starts the next key.
            return emit(no_key, i, codes, code_count);
        }
    }
    return incomplete(count, at_end, codes, code_count);
}

// "ESC O" followed by optional modifier digits and one final letter.
size_t decode_ss3(const unsigned char* bytes, size_t count, bool at_end, int codes[2],
                  int* code_count) {
    for (size_t i = 2; i < count && i < longest_sequence; ++i) {
        const unsigned char byte = bytes[i];
        if ((byte >= '0' && byte <= '9') || byte == ';') {
            continue;
        }
        if (byte >= 0x40 && byte <= 0x7E) {
            const Key key = byte == 'M' ? Key{-1, '\r'} : letter_key(byte);  // M: keypad Enter
            return emit(key, i + 1, codes, code_count);
        }
        return emit(no_key, i, codes, code_count);
    }
    return incomplete(count, at_end, codes, code_count);
}

}  // namespace

size_t decode_key(const unsigned char* bytes, size_t count, bool at_end, int codes[2],
                  int* code_count) {
    *code_count = 0;
    if (count == 0) {
        return 0;
    }
    if (bytes[0] != KEY_ESC) {
        // Backspace arrives as DEL from most terminals; the Windows keyboard reads it as 8.
        const int code = bytes[0] == 0x7F ? 8 : bytes[0];
        return emit(Key{-1, code}, 1, codes, code_count);
    }
    if (count == 1) {
        return at_end ? emit(Key{-1, KEY_ESC}, 1, codes, code_count) : 0;
    }
    switch (bytes[1]) {
        case '[':
            return decode_csi(bytes, count, at_end, codes, code_count);
        case 'O':
            return decode_ss3(bytes, count, at_end, codes, code_count);
        case KEY_ESC:
            // ESC pressed twice: the first is a key of its own.
            return emit(Key{-1, KEY_ESC}, 1, codes, code_count);
        default:
            // Alt with a character: the character alone, never a 27 before it.
            return emit(Key{-1, bytes[1] == 0x7F ? 8 : bytes[1]}, 2, codes, code_count);
    }
}

}  // namespace standin
