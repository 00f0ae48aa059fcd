#include "ui/format_text.h"

#include <cstdarg>
#include <cstdio>
#include <cwchar>

namespace {

bool IsFirstHalf(wchar_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }

}  // namespace

int FormatText(wchar_t* buffer, size_t size, const wchar_t* format, ...) {
    if (size == 0) return 0;
    va_list arguments;
    va_start(arguments, format);
    // The runtime's own (msvcrt) formatting: the conversions the texts were
    // written for.
    int length = _vsnwprintf(buffer, size, format, arguments);
    va_end(arguments);
    // The runtime leaves a cut text without its NUL and reports -1.
    if (length < 0 || static_cast<size_t>(length) >= size) {
        length = static_cast<int>(size - 1);
        if (length > 0 && IsFirstHalf(buffer[length - 1])) --length;
        buffer[length] = L'\0';
    }
    return length;
}

size_t WholeCharacters(const wchar_t* text, size_t maxUnits) {
    size_t n = 0;
    while (n < maxUnits && text[n] != L'\0') ++n;
    // A text cut here would end in half a character.
    if (n > 0 && text[n] != L'\0' && IsFirstHalf(text[n - 1])) --n;
    return n;
}
