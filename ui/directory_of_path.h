// The folder part of a path, with its trailing backslash.
#pragma once

// destination gets everything up to and including the last backslash of
// source; a source without a backslash gives an empty text. destination must
// hold wcslen(source) + 1 units; it may be the same buffer as source.
void DirectoryOfPath(wchar_t* destination, const wchar_t* source);
