// Turns the bytes a terminal sends for a key into the codes of the Windows console keyboard:
// one code for a character or a lone ESC, two (a lead of 0 or 224, then the key's scan code)
// for cursor-block and function keys, none for an escape sequence it does not know.
#pragma once

#include <stddef.h>

namespace standin {

enum { KEY_ESC = 27, KEY_LEAD_EXTENDED = 224, KEY_LEAD_FUNCTION = 0 };

// Decodes the first key at the start of `bytes`. `at_end` says that no further byte is coming
// for now (the short wait for the rest of an escape sequence has passed). Returns the number of
// bytes the key took, with its codes in `codes` and their number (0, 1 or 2) in `code_count`;
// or 0 when the bytes so far are the start of a longer sequence and `at_end` is false, so the
// caller should wait for more. Never returns 0 when `at_end` is true and `count` is not 0.
size_t decode_key(const unsigned char* bytes, size_t count, bool at_end, int codes[2],
                  int* code_count);

}  // namespace standin
