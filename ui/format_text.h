// printf-style formatting with the platform's own conversions ("%I64u"),
// always NUL-terminated and never past the buffer.
#pragma once

#include <cstddef>

// Returns the length written; a text that does not fit is cut at size - 1.
int FormatText(char* buffer, size_t size, const char* format, ...)
    __attribute__((format(ms_printf, 3, 4)));
