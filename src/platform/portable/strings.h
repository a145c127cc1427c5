// The C runtime's case-insensitive compare of at most n characters (ASCII letters only).
#pragma once

#include <stddef.h>

int _strnicmp(const char* left, const char* right, size_t count);
