// The folder part of a path, with its trailing backslash.
#pragma once

// destination gets everything up to and including the last backslash of
// source, found by CP932 characters (a trail byte 0x5C is no separator); a
// source without a backslash gives an empty text. destination must hold
// strlen(source) + 1 bytes; it may be the same buffer as source.
void DirectoryOfPath(char* destination, const char* source);
