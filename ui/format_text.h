// printf-style formatting of UTF-16 texts with the platform's own conversions
// ("%I64u"; "%s" and "%c" take wide strings and characters), always
// NUL-terminated and never past the buffer.
#pragma once

#include <cstddef>

// Returns the length written in UTF-16 units; a text that does not fit is cut
// at size - 1 units, never between the two halves of a surrogate pair.
int FormatText(wchar_t* buffer, size_t size, const wchar_t* format, ...);

// Units of the longest start of text, at most maxUnits, that does not end in
// the first half of a surrogate pair.
size_t WholeCharacters(const wchar_t* text, size_t maxUnits);
