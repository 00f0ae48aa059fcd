#include "ui/format_text.h"

#include <cstdarg>
#include <cstdio>

int FormatText(char* buffer, size_t size, const char* format, ...) {
    if (size == 0) return 0;
    va_list arguments;
    va_start(arguments, format);
    int length = _vsnprintf(buffer, size, format, arguments);
    va_end(arguments);
    // The runtime leaves a cut text without its NUL and reports -1.
    if (length < 0 || static_cast<size_t>(length) >= size) {
        buffer[size - 1] = '\0';
        length = static_cast<int>(size - 1);
    }
    return length;
}
